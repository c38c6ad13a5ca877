#include "host/settings/PaneRenderer.h"

#include "host/device/Words.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/plist/PropertyList.h"
#include "platform/uikit/UIKit.h"

#include <cmath>

using namespace Runtime;
using namespace UIKit;
using Preferences::PSSpecifier;

namespace SettingsHost {

namespace {

// The Settings app's look, in points.
constexpr CGFloat navigationBarHeight = 64;
constexpr CGFloat groupInset = 16;
constexpr CGFloat rowHeight = 44;
constexpr CGFloat groupGap = 35;
constexpr CGFloat cornerRadius = 10;
constexpr CGFloat textInset = 16;

void setColor(cairo_t* context, double red, double green, double blue, double alpha = 1) { cairo_set_source_rgba(context, red, green, blue, alpha); }

void roundedRectangle(cairo_t* context, CGRect rect, CGFloat radius)
{
    UIBezierPath::bezierPathWithRoundedRect(rect, radius)->appendTo(context);
}

// A group's white card with separators between its rows.
class GroupCard final : public UIView {
public:
    int rows { 0 };
    void drawContent(cairo_t* context, CGRect bounds) const override
    {
        setColor(context, 1, 1, 1);
        roundedRectangle(context, bounds, cornerRadius);
        cairo_fill(context);
        setColor(context, 0.78, 0.78, 0.80);
        for (int row = 1; row < rows; ++row) {
            cairo_rectangle(context, textInset, row * rowHeight - 0.25, bounds.size.width - textInset, 0.5);
            cairo_fill(context);
        }
    }
};

class SwitchControl final : public UIView {
public:
    bool on { false };
    void drawContent(cairo_t* context, CGRect bounds) const override
    {
        if (on)
            setColor(context, 0.20, 0.78, 0.35);
        else
            setColor(context, 0.91, 0.91, 0.92);
        roundedRectangle(context, bounds, bounds.size.height / 2);
        cairo_fill(context);
        double knob = bounds.size.height - 4;
        double x = on ? bounds.size.width - knob - 2 : 2;
        setColor(context, 0, 0, 0, 0.12);
        cairo_arc(context, x + knob / 2, 2 + knob / 2 + 1, knob / 2, 0, 2 * M_PI);
        cairo_fill(context);
        setColor(context, 1, 1, 1);
        cairo_arc(context, x + knob / 2, 2 + knob / 2, knob / 2, 0, 2 * M_PI);
        cairo_fill(context);
    }
};

class SliderControl final : public UIView {
public:
    double fraction { 0 };
    void drawContent(cairo_t* context, CGRect bounds) const override
    {
        double middle = bounds.size.height / 2;
        double thumb = 14;
        double start = thumb, end = bounds.size.width - thumb;
        double position = start + (end - start) * std::clamp(fraction, 0.0, 1.0);
        setColor(context, 0.78, 0.78, 0.80);
        roundedRectangle(context, CGRectMake(start, middle - 2, end - start, 4), 2);
        cairo_fill(context);
        setColor(context, 0.0, 0.48, 1.0);
        roundedRectangle(context, CGRectMake(start, middle - 2, position - start, 4), 2);
        cairo_fill(context);
        setColor(context, 0, 0, 0, 0.15);
        cairo_arc(context, position, middle + 1, thumb, 0, 2 * M_PI);
        cairo_fill(context);
        setColor(context, 1, 1, 1);
        cairo_arc(context, position, middle, thumb, 0, 2 * M_PI);
        cairo_fill(context);
    }
};

void registerRendererClasses()
{
    registerUIKitClasses();
    if (getClass("KestrelPaneGroupCard"))
        return;
    ClassBuilder<GroupCard>("KestrelPaneGroupCard", "UIView");
    ClassBuilder<SwitchControl>("KestrelPaneSwitch", "UIView");
    ClassBuilder<SliderControl>("KestrelPaneSlider", "UIView");
}

const bool s_registered = (addClassRegistrar(&registerRendererClasses), true);

template<typename T> Ref<T> makeView(const char* className, CGRect frame)
{
    auto view = makeInstance<T>(getClass(className));
    send<RefPtr<Object>>(view, "initWithFrame:", frame);
    return view;
}

Ref<UILabel> makeLabel(CGRect frame, const std::string& text, CGFloat size, Ref<UIColor> color, int64_t alignment = 0,
    int64_t lines = 1)
{
    auto label = makeView<UILabel>("UILabel", frame);
    label->setText(NSString::create(text).ptr());
    label->setFont(UIFont::systemFontOfSize(size).ptr());
    label->setTextColor(color.ptr());
    label->setTextAlignment(alignment);
    label->setNumberOfLines(lines);
    return label;
}

std::optional<double> numberProperty(const PSSpecifier& specifier, std::string_view key)
{
    auto* value = specifier.propertyList().find(key);
    if (!value || !(value->isInteger() || value->isReal()))
        return std::nullopt;
    return value->doubleValue();
}

// Lays the page out top to bottom into `page`; answers the height used.
class PageBuilder {
public:
    PageBuilder(SettingsPane& pane, UIView& page, CGFloat width)
        : m_pane(pane)
        , m_page(page)
        , m_width(width)
    {
    }

    CGFloat build(const std::string& title)
    {
        auto bar = makeView<UIView>("UIView", CGRectMake(0, 0, m_width, navigationBarHeight));
        bar->setBackgroundColor(UIColor::create(0.97, 0.97, 0.97, 1).ptr());
        bar->addSubview(makeLabel(CGRectMake(0, 20, m_width, 44), title, 17, UIColor::blackColor(), 1).ptr());
        m_page.addSubview(bar.ptr());
        m_y = navigationBarHeight;

        auto& rows = m_pane.rows();
        size_t index = 0;
        while (index < rows.size()) {
            // A group is its group row and the rows up to the next group row.
            const PSSpecifier* group = rows[index].specifier->cellType() == Preferences::PSGroupCell ? rows[index].specifier.get() : nullptr;
            size_t first = group ? index + 1 : index;
            size_t end = first;
            while (end < rows.size() && rows[end].specifier->cellType() != Preferences::PSGroupCell)
                ++end;
            buildGroup(group, rows, first, end);
            index = end;
        }
        return m_y + groupGap;
    }

private:
    void buildGroup(const PSSpecifier* group, const std::vector<Preferences::PSListController::ShownRow>& rows, size_t first, size_t end)
    {
        auto header = group ? m_pane.customView(*group, "headerCellClass") : nullptr;
        auto footer = group ? m_pane.customView(*group, "footerCellClass") : nullptr;
        if (header) {
            // The header asks the list for its preferred height, but may pin itself
            // taller; the page gives it whichever is more, so nothing it draws is covered.
            double height = send<double>(header, "preferredHeightForWidth:", double(m_width));
            auto holder = makeView<UIView>("UIView", CGRectMake(0, m_y, m_width, height));
            m_page.addSubview(holder.ptr());
            send(holder, "addSubview:", header.get());
            height = std::max(height, send<CGRect>(header, "frame").size.height);
            holder->setFrame(CGRectMake(0, m_y, m_width, height));
            m_y += height;
        } else {
            auto label = group ? group->stringProperty("label") : std::nullopt;
            m_y += label ? groupGap - 8 : groupGap;
            if (label) {
                std::string upper = *label;
                for (char& character : upper)
                    character = char(std::toupper(static_cast<unsigned char>(character)));
                m_page.addSubview(makeLabel(CGRectMake(groupInset + textInset, m_y - 10, m_width - 2 * (groupInset + textInset), 18), upper, 13,
                    UIColor::create(0.43, 0.43, 0.45, 1))
                                      .ptr());
                m_y += 8;
            }
        }

        if (end > first) {
            CGFloat cardWidth = m_width - 2 * groupInset;
            auto card = makeView<GroupCard>("KestrelPaneGroupCard", CGRectMake(groupInset, m_y, cardWidth, rowHeight * CGFloat(end - first)));
            card->rows = int(end - first);
            for (size_t i = first; i < end; ++i)
                buildRow(*card, *rows[i].specifier, rows[i].value, rowHeight * CGFloat(i - first), cardWidth);
            m_page.addSubview(card.ptr());
            m_y += rowHeight * CGFloat(end - first);
        }

        if (auto note = group ? group->stringProperty("footerText") : std::nullopt) {
            auto label = makeLabel(CGRectMake(groupInset + textInset, m_y + 6, m_width - 2 * (groupInset + textInset), 0), *note, 13,
                UIColor::create(0.43, 0.43, 0.45, 1), 0, 0);
            CGSize size = label->sizeThatFits(CGSizeMake(m_width - 2 * (groupInset + textInset), 1000));
            label->setFrame(CGRectMake(groupInset + textInset, m_y + 6, m_width - 2 * (groupInset + textInset), size.height));
            m_page.addSubview(label.ptr());
            m_y += size.height + 6;
        }
        if (footer) {
            double height = send<double>(footer, "preferredHeightForWidth:", double(m_width));
            auto holder = makeView<UIView>("UIView", CGRectMake(0, m_y + groupGap / 2, m_width, height));
            m_page.addSubview(holder.ptr());
            send(holder, "addSubview:", footer.get());
            m_y += groupGap / 2 + height;
        }
    }

    void buildRow(UIView& card, const PSSpecifier& specifier, const std::optional<Platform::Plist::Value>& value, CGFloat y, CGFloat width)
    {
        auto label = specifier.stringProperty("label").value_or("");
        int64_t type = specifier.cellType();
        auto black = UIColor::blackColor();
        if (type == Preferences::PSButtonCell) {
            card.addSubview(makeLabel(CGRectMake(textInset, y, width - 2 * textInset, rowHeight), label, 17, UIColor::create(0, 0.48, 1, 1)).ptr());
            return;
        }
        if (type == Preferences::PSSwitchCell) {
            card.addSubview(makeLabel(CGRectMake(textInset, y, width - 90, rowHeight), label, 17, black).ptr());
            auto control = makeView<SwitchControl>("KestrelPaneSwitch", CGRectMake(width - textInset - 51, y + 6.5, 51, 31));
            control->on = value && value->boolValue();
            card.addSubview(control.ptr());
            return;
        }
        if (type == Preferences::PSSliderCell) {
            double number = value ? value->doubleValue() : 0;
            double minimum = numberProperty(specifier, "min").value_or(0);
            double maximum = numberProperty(specifier, "max").value_or(1);
            // Written as the settings list writes it: the float the engine reads, shortest.
            auto text = Device::floatText(value ? value->floatValue() : 0.0f);
            card.addSubview(makeLabel(CGRectMake(width - textInset - 44, y, 44, rowHeight), text, 15, UIColor::create(0.43, 0.43, 0.45, 1), 2).ptr());
            auto control = makeView<SliderControl>("KestrelPaneSlider", CGRectMake(textInset - 8, y, width - 2 * textInset - 36, rowHeight));
            control->fraction = maximum > minimum ? (number - minimum) / (maximum - minimum) : 0;
            card.addSubview(control.ptr());
            return;
        }
        card.addSubview(makeLabel(CGRectMake(textInset, y, width / 2, rowHeight), label, 17, black).ptr());
        if (Preferences::cellTypeHoldsValue(type)) {
            card.addSubview(makeLabel(CGRectMake(width / 2, y, width / 2 - textInset, rowHeight), displayValue(value), 17,
                UIColor::create(0.43, 0.43, 0.45, 1), 2)
                                .ptr());
        }
    }

    SettingsPane& m_pane;
    UIView& m_page;
    CGFloat m_width;
    CGFloat m_y { 0 };
};

} // namespace

void configureScreenFromDevice()
{
    auto file = Platform::Plist::readFile(Platform::resolve("/System/Library/CoreServices/Screen.plist"));
    const auto* screen = file.ok() ? file.value.asDictionary() : nullptr;
    auto number = [&](const char* key, double fallback) {
        const auto* value = screen ? screen->find(key) : nullptr;
        double result = value && (value->isInteger() || value->isReal()) ? value->doubleValue() : fallback;
        return std::isfinite(result) && result > 0 && result <= 4096 ? result : fallback;
    };
    UIScreen::configureMainScreen(number("Width", 375), number("Height", 667), number("Scale", 2));
}

std::optional<std::string> renderPane(SettingsPane& pane, const std::string& hostPath)
{
    registerRendererClasses();
    auto screen = send<RefPtr<UIScreen>>(getClass("UIScreen"), "mainScreen");
    CGFloat width = screen->bounds().size.width;
    CGFloat scale = screen->scale();

    auto page = makeView<UIView>("UIView", CGRectMake(0, 0, width, 100));
    page->setBackgroundColor(UIColor::create(0.949, 0.949, 0.969, 1).ptr());
    std::string title = "Kestrel";
    CGFloat height = PageBuilder(pane, page.get(), width).build(title);
    page->setFrame(CGRectMake(0, 0, width, std::max(height, screen->bounds().size.height)));

    auto image = renderView(page.ptr(), scale);
    if (!image)
        return "the pane could not be drawn";
    if (!writePNG(image.get(), hostPath))
        return "cannot write " + hostPath;
    return std::nullopt;
}

} // namespace SettingsHost
