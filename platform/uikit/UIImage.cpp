#include "platform/uikit/UIImage.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIKitObjects.h"

#include <cmath>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UIKit {

namespace {

// A PNG file may not be larger than this, whatever its bitmap: reading stops there.
constexpr off_t maximumFileSize = off_t(256) * 1024 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_descriptor; }

private:
    int m_descriptor;
};

struct PNGReader {
    int descriptor;
    off_t remaining;
};

bool readFully(int descriptor, unsigned char* buffer, size_t length)
{
    while (length) {
        ssize_t count = ::read(descriptor, buffer, length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        buffer += count;
        length -= size_t(count);
    }
    return true;
}

cairo_status_t readPNGBytes(void* closure, unsigned char* data, unsigned length)
{
    auto* reader = static_cast<PNGReader*>(closure);
    if (off_t(length) > reader->remaining || !readFully(reader->descriptor, data, length))
        return CAIRO_STATUS_READ_ERROR;
    reader->remaining -= length;
    return CAIRO_STATUS_SUCCESS;
}

uint32_t bigEndian32(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
}

// The file's bitmap, or null. The signature and the header chunk are checked before the
// decoder sees anything, so a file that claims a huge bitmap never makes us allocate it.
cairo_surface_t* readPNGFile(const std::string& hostPath)
{
    // Non-blocking, so a FIFO planted at the path cannot hang us.
    FileDescriptor file(::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        return nullptr;
    struct stat status;
    if (::fstat(file.get(), &status) || !S_ISREG(status.st_mode) || status.st_size > maximumFileSize)
        return nullptr;
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);

    // Signature, then IHDR: length 13, type, width, height.
    static constexpr std::array<unsigned char, 8> signature { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    std::array<unsigned char, 24> header;
    if (!readFully(file.get(), header.data(), header.size()))
        return nullptr;
    if (std::memcmp(header.data(), signature.data(), signature.size()) != 0 || bigEndian32(&header[8]) != 13
        || std::memcmp(&header[12], "IHDR", 4) != 0)
        return nullptr;
    uint32_t width = bigEndian32(&header[16]);
    uint32_t height = bigEndian32(&header[20]);
    if (!width || !height || width > uint32_t(UIImage::maximumPixelSide)
        || height > uint32_t(UIImage::maximumPixelSide))
        return nullptr;

    if (::lseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    PNGReader reader { file.get(), maximumFileSize };
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(&readPNGBytes, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

} // namespace

Class UIImage::runtimeClass() { return ObjC::CxxClass<UIImage>::runtimeClass(); }

UIImage* UIImage::from(id object) { return stateIfKindOf<UIImage>(object); }

id UIImage::create(cairo_surface_t* adoptedSurface, CGSize sizeInPoints, CGFloat scale)
{
    ObjC::RetainPtr image = ObjC::allocInit(runtimeClass());
    UIImage* state = ObjC::CxxClass<UIImage>::state(image);
    state->m_surface = adoptedSurface;
    state->m_size = sizeInPoints;
    state->m_scale = scale;
    return autoreleased(std::move(image));
}

UIImage::~UIImage()
{
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

id UIImage::initWithContentsOfFile(id devicePath)
{
    id self = ObjC::selfOf(this);
    auto path = Platform::stringValue(devicePath);
    cairo_surface_t* surface = path && !m_surface ? readPNGFile(Platform::resolve(*path)) : nullptr;
    if (!surface) {
        // An initialiser that fails gives its receiver back.
        ObjC::release(self);
        return nullptr;
    }
    m_surface = surface;
    m_scale = 1;
    m_size = { CGFloat(pixelWidth()), CGFloat(pixelHeight()) };
    return self;
}

id UIImage::imageWithContentsOfFile(id devicePath)
{
    static SEL const alloc = ObjC::sel("alloc");
    static SEL const initWithContentsOfFile = ObjC::sel("initWithContentsOfFile:");
    id image = ObjC::send<id>(ObjC::send<id>(runtimeClass(), alloc), initWithContentsOfFile, devicePath);
    return image ? autoreleased(ObjC::adopt(image)) : nullptr;
}

int UIImage::pixelWidth() const { return m_surface ? cairo_image_surface_get_width(m_surface) : 0; }

int UIImage::pixelHeight() const { return m_surface ? cairo_image_surface_get_height(m_surface) : 0; }

UIImage::RGBA UIImage::pixelAt(int x, int y) const
{
    if (!m_surface || x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight())
        return {};
    cairo_surface_flush(m_surface);
    const unsigned char* row
        = cairo_image_surface_get_data(m_surface) + size_t(y) * size_t(cairo_image_surface_get_stride(m_surface));
    uint32_t pixel;
    std::memcpy(&pixel, row + size_t(x) * 4, sizeof(pixel));
    bool hasAlpha = cairo_image_surface_get_format(m_surface) == CAIRO_FORMAT_ARGB32;
    uint8_t alpha = hasAlpha ? uint8_t(pixel >> 24) : 255;
    auto unpremultiply = [alpha](uint32_t component) -> uint8_t {
        component &= 0xff;
        if (!alpha)
            return 0;
        return uint8_t(std::min<uint32_t>(255, (component * 255 + alpha / 2) / alpha));
    };
    return { unpremultiply(pixel >> 16), unpremultiply(pixel >> 8), unpremultiply(pixel), alpha };
}

bool UIImage::writePNG(const std::string& hostPath) const
{
    return m_surface && cairo_surface_write_to_png(m_surface, hostPath.c_str()) == CAIRO_STATUS_SUCCESS;
}

void UIImage::drawInRect(CGRect rect) const
{
    if (cairo_t* context = UIGraphicsGetCurrentContext())
        drawInContext(context, rect);
}

void UIImage::drawInContext(cairo_t* context, CGRect rect) const
{
    int width = pixelWidth();
    int height = pixelHeight();
    if (!width || !height || !(rect.size.width > 0) || !(rect.size.height > 0))
        return;
    cairo_save(context);
    cairo_rectangle(context, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_clip(context);
    cairo_translate(context, rect.origin.x, rect.origin.y);
    cairo_scale(context, rect.size.width / width, rect.size.height / height);
    cairo_set_source_surface(context, m_surface, 0, 0);
    // Padding keeps the edges solid when the bitmap is scaled.
    cairo_pattern_set_extend(cairo_get_source(context), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_GOOD);
    cairo_paint(context);
    cairo_restore(context);
}

} // namespace UIKit
