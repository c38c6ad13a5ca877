#include "host/settings/PaneRenderer.h"

#include "host/device/Words.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/plist/PropertyList.h"
#include "platform/uikit/UIKit.h"

#include <algorithm>
#include <cmath>
#include <mutex>

using namespace UIKit;
using ObjC::send;
using ObjC::sel;
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
    UIBezierPath::from(UIBezierPath::bezierPathWithRoundedRect(rect, radius))->appendTo(context);
}

// A group's white card with separators between its rows.
class GroupCard {
public:
    int rows { 0 };
    void drawRect(CGRect bounds) const
    {
        cairo_t* context = UIGraphicsGetCurrentContext();
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

class SwitchControl {
public:
    bool on { false };
    void drawRect(CGRect bounds) const
    {
        cairo_t* context = UIGraphicsGetCurrentContext();
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

class SliderControl {
public:
    double fraction { 0 };
    void drawRect(CGRect bounds) const
    {
        cairo_t* context = UIGraphicsGetCurrentContext();
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
    static std::once_flag once;
    std::call_once(once, [] {
        Class view = UIView::runtimeClass();
        ObjC::CxxClass<GroupCard>::define("KestrelPaneGroupCard", view).method<&GroupCard::drawRect>("drawRect:").registerClass();
        ObjC::CxxClass<SwitchControl>::define("KestrelPaneSwitch", view).method<&SwitchControl::drawRect>("drawRect:").registerClass();
        ObjC::CxxClass<SliderControl>::define("KestrelPaneSlider", view).method<&SliderControl::drawRect>("drawRect:").registerClass();
    });
}

// [[ClassName alloc] initWithFrame:frame], owned.
ObjC::RetainPtr makeView(const char* className, CGRect frame)
{
    static SEL const alloc = sel("alloc");
    static SEL const initWithFrame = sel("initWithFrame:");
    return ObjC::adopt(send<id>(send<id>(ObjC::getClass(className), alloc), initWithFrame, frame));
}

template<typename T> T& stateOf(const ObjC::RetainPtr& view) { return *ObjC::CxxClass<T>::state(view); }

UIView& viewOf(const ObjC::RetainPtr& view) { return *UIView::from(view); }

void addSubview(id parent, id child)
{
    static SEL const addSubviewSelector = sel("addSubview:");
    send(parent, addSubviewSelector, child);
}

ObjC::RetainPtr makeLabel(CGRect frame, const std::string& text, CGFloat size, id color, int64_t alignment = 0, int64_t lines = 1)
{
    auto label = makeView("UILabel", frame);
    UILabel& state = stateOf<UILabel>(label);
    state.setText(Platform::makeString(text));
    state.setFont(UIFont::systemFontOfSize(size));
    state.setTextColor(color);
    state.setTextAlignment(alignment);
    state.setNumberOfLines(lines);
    return label;
}

std::optional<double> numberProperty(const PSSpecifier& specifier, const char* key)
{
    auto value = specifier.propertyValue(key);
    if (!value || !(value->isInteger() || value->isReal()))
        return std::nullopt;
    return value->doubleValue();
}

// Lays the page out top to bottom into `page`; answers the height used.
class PageBuilder {
public:
    PageBuilder(SettingsPane& pane, id page, CGFloat width)
        : m_pane(pane)
        , m_page(page)
        , m_width(width)
    {
    }

    CGFloat build(const std::string& title)
    {
        auto bar = makeView("UIView", CGRectMake(0, 0, m_width, navigationBarHeight));
        viewOf(bar).setBackgroundColor(UIColor::create(0.97, 0.97, 0.97, 1));
        addSubview(bar, makeLabel(CGRectMake(0, 20, m_width, 44), title, 17, UIColor::blackColor(), 1));
        addSubview(m_page, bar);
        m_y = navigationBarHeight;

        auto& rows = m_pane.rows();
        size_t index = 0;
        while (index < rows.size()) {
            // A group is its group row and the rows up to the next group row.
            id group = typeOf(rows[index]) == Preferences::PSGroupCell ? rows[index].specifier.get() : nullptr;
            size_t first = group ? index + 1 : index;
            size_t end = first;
            while (end < rows.size() && typeOf(rows[end]) != Preferences::PSGroupCell)
                ++end;
            buildGroup(group, rows, first, end);
            index = end;
        }
        return m_y + groupGap;
    }

private:
    static int64_t typeOf(const Preferences::PSListController::ShownRow& row) { return PSSpecifier::from(row.specifier)->cellType(); }

    void buildGroup(id groupObject, const std::vector<Preferences::PSListController::ShownRow>& rows, size_t first, size_t end)
    {
        static SEL const preferredHeightForWidth = sel("preferredHeightForWidth:");
        static SEL const frame = sel("frame");
        const PSSpecifier* group = PSSpecifier::from(groupObject);
        auto header = group ? m_pane.customView(groupObject, "headerCellClass") : nullptr;
        auto footer = group ? m_pane.customView(groupObject, "footerCellClass") : nullptr;
        if (header) {
            // The header asks the list for its preferred height, but may pin itself
            // taller; the page gives it whichever is more, so nothing it draws is covered.
            double height = send<double>(header, preferredHeightForWidth, double(m_width));
            auto holder = makeView("UIView", CGRectMake(0, m_y, m_width, height));
            addSubview(m_page, holder);
            addSubview(holder, header);
            height = std::max(height, send<CGRect>(header, frame).size.height);
            viewOf(holder).setFrame(CGRectMake(0, m_y, m_width, height));
            m_y += height;
        } else {
            auto label = group ? group->stringProperty("label") : std::nullopt;
            m_y += label ? groupGap - 8 : groupGap;
            if (label) {
                std::string upper = *label;
                for (char& character : upper)
                    character = char(std::toupper(static_cast<unsigned char>(character)));
                addSubview(m_page,
                    makeLabel(CGRectMake(groupInset + textInset, m_y - 10, m_width - 2 * (groupInset + textInset), 18), upper, 13,
                        UIColor::create(0.43, 0.43, 0.45, 1)));
                m_y += 8;
            }
        }

        if (end > first) {
            CGFloat cardWidth = m_width - 2 * groupInset;
            auto card = makeView("KestrelPaneGroupCard", CGRectMake(groupInset, m_y, cardWidth, rowHeight * CGFloat(end - first)));
            stateOf<GroupCard>(card).rows = int(end - first);
            for (size_t i = first; i < end; ++i)
                buildRow(card, *PSSpecifier::from(rows[i].specifier), Platform::propertyListValue(rows[i].value), rowHeight * CGFloat(i - first), cardWidth);
            addSubview(m_page, card);
            m_y += rowHeight * CGFloat(end - first);
        }

        if (auto note = group ? group->stringProperty("footerText") : std::nullopt) {
            auto label = makeLabel(CGRectMake(groupInset + textInset, m_y + 6, m_width - 2 * (groupInset + textInset), 0), *note, 13,
                UIColor::create(0.43, 0.43, 0.45, 1), 0, 0);
            CGSize size = stateOf<UILabel>(label).sizeThatFits(CGSizeMake(m_width - 2 * (groupInset + textInset), 1000));
            viewOf(label).setFrame(CGRectMake(groupInset + textInset, m_y + 6, m_width - 2 * (groupInset + textInset), size.height));
            addSubview(m_page, label);
            m_y += size.height + 6;
        }
        if (footer) {
            double height = send<double>(footer, preferredHeightForWidth, double(m_width));
            auto holder = makeView("UIView", CGRectMake(0, m_y + groupGap / 2, m_width, height));
            addSubview(m_page, holder);
            addSubview(holder, footer);
            m_y += groupGap / 2 + height;
        }
    }

    void buildRow(id card, const PSSpecifier& specifier, const std::optional<Platform::Plist::Value>& value, CGFloat y, CGFloat width)
    {
        auto label = specifier.stringProperty("label").value_or("");
        int64_t type = specifier.cellType();
        id black = UIColor::blackColor();
        if (type == Preferences::PSButtonCell) {
            addSubview(card, makeLabel(CGRectMake(textInset, y, width - 2 * textInset, rowHeight), label, 17, UIColor::create(0, 0.48, 1, 1)));
            return;
        }
        if (type == Preferences::PSSwitchCell) {
            addSubview(card, makeLabel(CGRectMake(textInset, y, width - 90, rowHeight), label, 17, black));
            auto control = makeView("KestrelPaneSwitch", CGRectMake(width - textInset - 51, y + 6.5, 51, 31));
            stateOf<SwitchControl>(control).on = value && value->boolValue();
            addSubview(card, control);
            return;
        }
        if (type == Preferences::PSSliderCell) {
            double number = value ? value->doubleValue() : 0;
            double minimum = numberProperty(specifier, "min").value_or(0);
            double maximum = numberProperty(specifier, "max").value_or(1);
            // Written as the settings list writes it: the float the engine reads, shortest.
            auto text = Device::floatText(value ? value->floatValue() : 0.0f);
            addSubview(card, makeLabel(CGRectMake(width - textInset - 44, y, 44, rowHeight), text, 15, UIColor::create(0.43, 0.43, 0.45, 1), 2));
            auto control = makeView("KestrelPaneSlider", CGRectMake(textInset - 8, y, width - 2 * textInset - 36, rowHeight));
            stateOf<SliderControl>(control).fraction = maximum > minimum ? (number - minimum) / (maximum - minimum) : 0;
            addSubview(card, control);
            return;
        }
        addSubview(card, makeLabel(CGRectMake(textInset, y, width / 2, rowHeight), label, 17, black));
        if (Preferences::cellTypeHoldsValue(type)) {
            addSubview(card,
                makeLabel(CGRectMake(width / 2, y, width / 2 - textInset, rowHeight), displayValue(value), 17,
                    UIColor::create(0.43, 0.43, 0.45, 1), 2));
        }
    }

    SettingsPane& m_pane;
    id m_page;
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

Platform::Expected<void> renderPane(SettingsPane& pane, const std::string& hostPath)
{
    registerRendererClasses();
    CGRect screen = UIScreen::mainScreenBounds();
    CGFloat width = screen.size.width;
    CGFloat scale = UIScreen::mainScreenScale();

    auto page = makeView("UIView", CGRectMake(0, 0, width, 100));
    viewOf(page).setBackgroundColor(UIColor::create(0.949, 0.949, 0.969, 1));
    std::string title = "Kestrel";
    CGFloat height = PageBuilder(pane, page, width).build(title);
    viewOf(page).setFrame(CGRectMake(0, 0, width, std::max(height, screen.size.height)));

    id image = renderView(page, scale);
    if (!image)
        return Platform::Failure { "the pane could not be drawn" };
    if (!writePNG(image, hostPath))
        return Platform::Failure { "cannot write " + hostPath };
    return {};
}

} // namespace SettingsHost
