// The pane's banner, KestrelBannerCell (a PSTableCell): the product's icon with rounded corners,
// its name in large type and the developer line beneath (instance variables bannerView,
// mainTitleLabel, subTitleLabel). Whatever frame the list gives it, the cell spans its
// superview's width at a fixed height. The class is registered when the bundle loads.
//
//     - (UIImage*)roundedRectImageFromImage:(UIImage*)image withRadius:(double)radius
//         A new image with corners of that radius; the image itself when the radius is 0.
#pragma once
