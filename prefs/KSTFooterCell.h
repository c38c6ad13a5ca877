// The pane's footer: one small gray line with a notice and the version the
// package database records for the product, read afresh at every creation.
#pragma once

#include "platform/preferences/PSTableCell.h"

class KSTFooterCell final : public Preferences::PSTableCell {
public:
    Runtime::RefPtr<Runtime::Object> initWithSpecifier(Runtime::Object* specifier);
    double preferredHeightForWidth(double width) const;

    Runtime::RefPtr<Runtime::Object> mainTitleLabel() const { return m_mainTitleLabel; }

    Runtime::RefPtr<Runtime::Object> m_mainTitleLabel;
};

// The footer's text for a version (nil: not recorded).
std::string footerText(const std::optional<std::string>& version);
