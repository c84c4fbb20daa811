// Plain C calls into Core Foundation, Launch Services and the accessibility
// API. The only Apple-only code of the program: built on Apple systems
// alone, with their frameworks (cmake/apple_sources.cmake).
#ifdef __APPLE__

#include "platform/macos_services.h"

#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>

#include <cstring>

namespace {

std::string Utf8(CFStringRef text)
{
    if (!text)
        return {};
    const CFIndex capacity = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    std::string bytes(static_cast<std::size_t>(capacity), '\0');
    if (!CFStringGetCString(text, bytes.data(), capacity, kCFStringEncodingUTF8))
        return {};
    bytes.resize(std::strlen(bytes.c_str()));
    return bytes;
}

} // namespace

std::string MacMailtoAppPath()
{
    const CFURLRef mailto = CFURLCreateWithString(kCFAllocatorDefault, CFSTR("mailto:"), nullptr);
    if (!mailto)
        return {};
        // Deprecated from macOS 12 in favour of NSWorkspace, which would need
        // Objective-C; it still answers on every version the program runs on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const CFURLRef app = LSCopyDefaultApplicationURLForURL(mailto, kLSRolesAll, nullptr);
#pragma GCC diagnostic pop
    CFRelease(mailto);
    if (!app)
        return {};
    const CFStringRef path = CFURLCopyFileSystemPath(app, kCFURLPOSIXPathStyle);
    CFRelease(app);
    std::string bytes = Utf8(path);
    if (path)
        CFRelease(path);
    return bytes;
}

bool MacAccessibilityTrusted()
{
    if (__builtin_available(macOS 10.14, *))
        return AXIsProcessTrusted();
    const void* keys[] = {kAXTrustedCheckOptionPrompt};
    const void* values[] = {kCFBooleanTrue};
    const CFDictionaryRef options = CFDictionaryCreate(
        kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const bool trusted = AXIsProcessTrustedWithOptions(options);
    CFRelease(options);
    return trusted;
}

#endif
