// CoreGraphics geometry: the plain structs that travel through messages (a
// hit-test point, a view's frame), in points, with CoreGraphics' names and the
// runtime's encodings of them. It includes nothing, so the system's own code can
// use it on a phone.
#pragma once

using CGFloat = double;

struct CGPoint {
    CGFloat x { 0 };
    CGFloat y { 0 };
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
    CGFloat width { 0 };
    CGFloat height { 0 };
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

// The encodings the typed runtime header (runtime/ObjC.h) checks sends against; declared
// here so that this header needs none of its own.
namespace ObjC {
template<typename T, typename> struct TypeEncoding;
template<> struct TypeEncoding<CGPoint, void> {
    static constexpr const char* value = "{CGPoint=dd}";
};
template<> struct TypeEncoding<CGSize, void> {
    static constexpr const char* value = "{CGSize=dd}";
};
template<> struct TypeEncoding<CGRect, void> {
    static constexpr const char* value = "{CGRect={CGPoint=dd}{CGSize=dd}}";
};
} // namespace ObjC

constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return { x, y }; }
constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) { return { width, height }; }
constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height)
{
    return { { x, y }, { width, height } };
}
inline constexpr CGRect CGRectZero {};

constexpr CGFloat CGRectGetMinX(CGRect rect) { return rect.origin.x; }
constexpr CGFloat CGRectGetMinY(CGRect rect) { return rect.origin.y; }
constexpr CGFloat CGRectGetMaxX(CGRect rect) { return rect.origin.x + rect.size.width; }
constexpr CGFloat CGRectGetMaxY(CGRect rect) { return rect.origin.y + rect.size.height; }
constexpr CGFloat CGRectGetMidX(CGRect rect) { return rect.origin.x + rect.size.width / 2; }
constexpr CGFloat CGRectGetMidY(CGRect rect) { return rect.origin.y + rect.size.height / 2; }
constexpr CGFloat CGRectGetWidth(CGRect rect) { return rect.size.width; }
constexpr CGFloat CGRectGetHeight(CGRect rect) { return rect.size.height; }
