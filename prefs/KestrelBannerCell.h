// The pane's banner: the product's icon with rounded corners, its name in
// large type and the developer line beneath. Whatever frame the list gives
// it, the cell spans its superview's width at a fixed height.
#pragma once

#include "platform/preferences/PSTableCell.h"

class KestrelBannerCell final : public Preferences::PSTableCell {
public:
    Runtime::RefPtr<Runtime::Object> initWithSpecifier(Runtime::Object* specifier);
    double preferredHeightForWidth(double width) const;
    // A new image with corners of that radius; the image itself when the radius is 0.
    Runtime::RefPtr<Runtime::Object> roundedRectImageFromImage(Runtime::Object* image, double radius);

    CGRect frame();
    void setFrame(CGRect);
    void didMoveToSuperview();
    void layoutSubviews();

    Runtime::RefPtr<Runtime::Object> bannerView() const { return m_bannerView; }
    void setBannerView(Runtime::Object* view) { m_bannerView = view; }
    Runtime::RefPtr<Runtime::Object> mainTitleLabel() const { return m_mainTitleLabel; }
    Runtime::RefPtr<Runtime::Object> subTitleLabel() const { return m_subTitleLabel; }

    Runtime::RefPtr<Runtime::Object> m_mainTitleLabel;
    Runtime::RefPtr<Runtime::Object> m_subTitleLabel;
    Runtime::RefPtr<Runtime::Object> m_bannerView;
};
