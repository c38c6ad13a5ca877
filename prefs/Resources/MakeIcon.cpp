// Draws the settings bundle's icon: a kestrel in flight over a sunset sky.
// usage: kestrel-make-icon OUT.png [PIXELS]   (the picture is drawn at 180 pixels and scaled)
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    int pixels = argc == 3 ? std::atoi(argv[2]) : 180;
    if (argc < 2 || argc > 3 || pixels < 1 || pixels > 1024) {
        std::fputs("usage: kestrel-make-icon OUT.png [PIXELS]\n", stderr);
        return 2;
    }
    constexpr int size = 180;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, pixels / double(size), pixels / double(size));

    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, size);
    cairo_pattern_add_color_stop_rgb(sky, 0.0, 0.98, 0.62, 0.22);
    cairo_pattern_add_color_stop_rgb(sky, 1.0, 0.80, 0.22, 0.16);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);

    // The sun, low behind the bird.
    cairo_set_source_rgba(cr, 1.0, 0.93, 0.72, 0.55);
    cairo_arc(cr, 120, 118, 38, 0, 2 * M_PI);
    cairo_fill(cr);

    // The kestrel: long pointed wings swept back, a fanned tail, a small head.
    cairo_set_source_rgb(cr, 0.22, 0.12, 0.09);
    cairo_move_to(cr, 90, 74);
    cairo_curve_to(cr, 70, 58, 40, 52, 14, 60); // left wing leading edge
    cairo_curve_to(cr, 42, 70, 62, 80, 80, 92); // left wing trailing edge
    cairo_line_to(cr, 76, 132); // tail, left
    cairo_line_to(cr, 90, 140);
    cairo_line_to(cr, 104, 132); // tail, right
    cairo_line_to(cr, 100, 92);
    cairo_curve_to(cr, 118, 80, 138, 70, 166, 60); // right wing trailing edge
    cairo_curve_to(cr, 140, 52, 110, 58, 90, 74); // right wing leading edge
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_arc(cr, 90, 72, 9, 0, 2 * M_PI);
    cairo_fill(cr);

    // The beak, catching the light.
    cairo_set_source_rgb(cr, 1.0, 0.84, 0.40);
    cairo_move_to(cr, 86, 64);
    cairo_line_to(cr, 90, 56);
    cairo_line_to(cr, 94, 64);
    cairo_close_path(cr);
    cairo_fill(cr);

    cairo_status_t status = cairo_surface_write_to_png(surface, argv[1]);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "kestrel-make-icon: cannot write %s: %s\n", argv[1], cairo_status_to_string(status));
        return 1;
    }
    return 0;
}
