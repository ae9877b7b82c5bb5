#include "core/CodePages.h"

#include <cerrno>
#include <iconv.h>

namespace vellumcast::core {

std::string IconvNameOfCodePage(uint16_t codePage)
{
    switch (codePage) {
    case 367:
        return "ASCII";
    case 1200:
        return "UTF-16LE";
    case 10000:
    case 32768: // Macintosh Roman, as BIFF4 and BIFF5 files from the Mac write it
        return "MACINTOSH";
    case 32769: // Windows Latin 1, the BIFF2 to BIFF4 alias
        return "CP1252";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    default:
        if (codePage > 28590 && codePage < 28606) // ISO 8859, as Windows numbers it
            return "ISO-8859-" + std::to_string(codePage - 28590);
        return "CP" + std::to_string(codePage);
    }
}

namespace {

class IconvConverter final : public CodePageConverter {
public:
    explicit IconvConverter(iconv_t handle)
        : m_handle(handle)
    {
    }
    ~IconvConverter() override { iconv_close(m_handle); }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    size_t Convert(std::span<const uint8_t> text, std::string& out) override
    {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
        size_t inLeft = text.size();
        char buffer[1024];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(m_handle, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (result == static_cast<size_t>(-1) && errno != E2BIG)
                break;
        }
        return text.size() - inLeft;
    }

private:
    iconv_t m_handle;
};

} // namespace

std::unique_ptr<CodePageConverter> CodePageConverter::Open(uint16_t codePage)
{
    const iconv_t handle = iconv_open("UTF-8", IconvNameOfCodePage(codePage).c_str());
    if (handle == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return std::make_unique<IconvConverter>(handle);
}

} // namespace vellumcast::core
