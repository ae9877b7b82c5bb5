#include "core/CodePages.h"
#include "core/WideTextWindows.h"

#include <algorithm>
#include <windows.h>

namespace vellumcast::core {

namespace {

constexpr uint16_t kUtf16 = 1200;

// Windows' number for the code page a workbook names.
UINT WindowsCodePage(uint16_t codePage)
{
    switch (codePage) {
    case 367:
        return 20127; // US-ASCII
    case 32768:
        return 10000; // Macintosh Roman
    case 32769:
        return 1252;
    default:
        return codePage;
    }
}

// Windows maps the bytes a single-byte code page leaves undefined (0x81 in Windows Latin,
// say) to the C1 controls of the same number, where iconv refuses them. No code page a
// workbook names holds C1 controls, so they count as undefined, and a workbook reads the
// same on both systems.
bool HoldsC1Control(const std::wstring& wide)
{
    return std::any_of(wide.begin(), wide.end(), [](wchar_t c) { return c >= 0x80 && c <= 0x9F; });
}

class WindowsConverter final : public CodePageConverter {
public:
    explicit WindowsConverter(UINT codePage)
        : m_codePage(codePage)
    {
    }

    size_t Convert(std::span<const uint8_t> text, std::string& out) override
    {
        // Most text converts whole; only text with an undefined byte goes a character at a time.
        if (Append(text, out))
            return text.size();
        size_t done = 0;
        while (done < text.size()) {
            const size_t length = CharacterLength(text, done);
            if (length == 0 || !Append(text.subspan(done, length), out))
                break;
            done += length;
        }
        return done;
    }

private:
    // The bytes of the character that starts at offset: two for a lead byte of a
    // double-byte code page, 0 when its second byte is cut off.
    size_t CharacterLength(std::span<const uint8_t> text, size_t offset) const
    {
        if (!::IsDBCSLeadByteEx(m_codePage, text[offset]))
            return 1;
        return offset + 1 < text.size() ? 2 : 0;
    }

    // Appends the UTF-8 of bytes when every one of them is defined.
    bool Append(std::span<const uint8_t> bytes, std::string& out) const
    {
        const auto* data = reinterpret_cast<const char*>(bytes.data());
        const int size = static_cast<int>(bytes.size());
        const int length = ::MultiByteToWideChar(m_codePage, MB_ERR_INVALID_CHARS, data, size, nullptr, 0);
        if (length <= 0)
            return false;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        ::MultiByteToWideChar(m_codePage, MB_ERR_INVALID_CHARS, data, size, wide.data(), length);
        if (HoldsC1Control(wide))
            return false;
        out += Utf8Text(wide);
        return true;
    }

    UINT m_codePage;
};

// UTF-16LE as it is; a lone surrogate becomes U+FFFD in the UTF-8, an odd last byte stops.
class Utf16Converter final : public CodePageConverter {
public:
    size_t Convert(std::span<const uint8_t> text, std::string& out) override
    {
        std::wstring wide(text.size() / 2, L'\0');
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(text[2 * i] | (text[2 * i + 1] << 8));
        out += Utf8Text(wide);
        return wide.size() * 2;
    }
};

} // namespace

std::unique_ptr<CodePageConverter> CodePageConverter::Open(uint16_t codePage)
{
    if (codePage == kUtf16)
        return std::make_unique<Utf16Converter>();
    const UINT windows = WindowsCodePage(codePage);
    if (!::IsValidCodePage(windows))
        return nullptr;
    return std::make_unique<WindowsConverter>(windows);
}

} // namespace vellumcast::core
