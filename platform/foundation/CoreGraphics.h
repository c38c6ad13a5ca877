// CoreGraphics geometry: the plain structs that travel through messages
// (a hit-test point, a view's frame).
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

inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) { return { { x, y }, { width, height } }; }
