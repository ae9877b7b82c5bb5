// Tokenizer and section parser of number format codes.
#include "spreadsheet/numfmt/NumberFormatParts.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

namespace vellumcast::spreadsheet::numfmt {

namespace {

// Codes longer than this are refused: the application itself stops at 255 characters.
constexpr size_t MaxCodeLength = 4096;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view word)
{
    if (text.size() - at < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (Lower(text[at + i]) != word[i])
            return false;
    }
    return true;
}

bool EqualsNoCase(std::string_view text, std::string_view word)
{
    return text.size() == word.size() && StartsWithNoCase(text, 0, word);
}

// The kinds of a time of day or an elapsed time: ".0" to ".000" right after one of them
// shows the fraction of the second.
bool IsClockKind(TokenKind kind)
{
    switch (kind) {
    case TokenKind::Hour:
    case TokenKind::Minute:
    case TokenKind::Second:
    case TokenKind::ElapsedHours:
    case TokenKind::ElapsedMinutes:
    case TokenKind::ElapsedSeconds:
        return true;
    default:
        return false;
    }
}

bool IsDateKind(TokenKind kind)
{
    return IsClockKind(kind) || kind == TokenKind::Year || kind == TokenKind::BuddhistYear || kind == TokenKind::EraYear
        || kind == TokenKind::Month || kind == TokenKind::Day || kind == TokenKind::SubSecond
        || kind == TokenKind::AmPm;
}

// What the sections that numbers take show of a date and time: a section for text never
// shows a number, so its tokens play no part.
DateTimeParts ClassifyDateTime(const ParsedFormat& parsed)
{
    bool date = false;
    bool time = false;
    for (uint32_t i = 0; i < parsed.numberSections; ++i) {
        const Section& section = parsed.sections[i];
        if (section.kind != SectionKind::Date)
            continue;
        for (const Token& token : section.tokens) {
            switch (token.kind) {
            case TokenKind::ElapsedHours:
            case TokenKind::ElapsedMinutes:
            case TokenKind::ElapsedSeconds:
                return DateTimeParts::Elapsed;
            case TokenKind::Hour:
            case TokenKind::Minute:
            case TokenKind::Second:
            case TokenKind::SubSecond:
            case TokenKind::AmPm:
                time = true;
                break;
            default:
                date = date || IsDateKind(token.kind);
                break;
            }
        }
    }
    if (date)
        return time ? DateTimeParts::DateAndTime : DateTimeParts::Date;
    return time ? DateTimeParts::Time : DateTimeParts::None;
}

class SectionParser {
public:
    explicit SectionParser(Section& section)
        : m_section(section)
    {
    }

    bool Tokenize(std::string_view source);
    void Resolve();

private:
    // Where the parts of a number section lie among the working tokens; n (the token
    // count) marks a part the section does not have.
    struct NumberLayout {
        size_t exponentAt;
        size_t pointAt;
        size_t slashAt;
        size_t numeratorBegin;
        size_t denominatorBegin;
        size_t denominatorEnd;
        std::vector<bool> asLiteral; // a second exponent or point is plain text
        std::vector<bool> dropped; // folded into another token
    };

    void AddLiteral(std::string_view text, bool digit = false);
    Token Literal(std::string_view text);
    bool Bracket(std::string_view content);
    void LiteralDigitsAsText();
    void ResolveText();
    void ResolveDate();
    void ResolveMinutes();
    void ResolveNumber();
    size_t FirstOf(TokenKind kind, size_t end, NumberLayout& layout) const;
    void FindExponent(NumberLayout& layout) const;
    void FindPoint(NumberLayout& layout) const;
    void FindFraction(NumberLayout& layout) const;
    void FoldFixedDenominator(NumberLayout& layout);
    void AssignParts(const NumberLayout& layout);
    bool IsSpaces(const Token& token) const;

    Section& m_section;
    std::vector<Token> m_tokens;
};

void SectionParser::AddLiteral(std::string_view text, bool digit)
{
    if (text.empty())
        return;
    if (!digit && !m_tokens.empty()) {
        Token& last = m_tokens.back();
        if (last.kind == TokenKind::Literal && last.offset + last.length == m_section.text.size()) {
            m_section.text += text;
            last.length += static_cast<uint32_t>(text.size());
            return;
        }
    }
    Token token = Literal(text);
    if (digit)
        token.kind = TokenKind::DigitLiteral;
    m_tokens.push_back(token);
}

Token SectionParser::Literal(std::string_view text)
{
    Token token;
    token.kind = TokenKind::Literal;
    token.offset = static_cast<uint32_t>(m_section.text.size());
    token.length = static_cast<uint32_t>(text.size());
    m_section.text += text;
    return token;
}

bool SectionParser::Bracket(std::string_view content)
{
    if (content.empty())
        return false;
    const char first = content[0];
    if (first == '$') {
        // [$€-407]: a currency symbol and a locale id; only the symbol is shown.
        std::string_view symbol = content.substr(1);
        symbol = symbol.substr(0, symbol.find('-'));
        AddLiteral(symbol);
        return true;
    }
    if (first == '<' || first == '>' || first == '=') {
        ConditionOp op = ConditionOp::Equal;
        size_t at = 1;
        if (first == '<' && content.size() > 1 && content[1] == '=') {
            op = ConditionOp::LessEqual;
            at = 2;
        } else if (first == '<' && content.size() > 1 && content[1] == '>') {
            op = ConditionOp::NotEqual;
            at = 2;
        } else if (first == '>' && content.size() > 1 && content[1] == '=') {
            op = ConditionOp::GreaterEqual;
            at = 2;
        } else if (first == '<') {
            op = ConditionOp::Less;
        } else if (first == '>') {
            op = ConditionOp::Greater;
        }
        while (at < content.size() && content[at] == ' ')
            ++at;
        const char* begin = content.data() + at;
        const char* end = content.data() + content.size();
        while (end > begin && end[-1] == ' ')
            --end;
        if (begin < end && *begin == '+')
            ++begin;
        double bound = 0.0;
        auto [ptr, ec] = std::from_chars(begin, end, bound);
        if (ec != std::errc() || ptr != end || begin == end)
            return false;
        m_section.condition = op;
        m_section.bound = bound;
        return true;
    }
    const char letter = Lower(first);
    if (letter == 'h' || letter == 'm' || letter == 's') {
        bool same = true;
        for (char c : content)
            same = same && Lower(c) == letter;
        if (same) {
            Token token;
            token.kind = letter == 'h' ? TokenKind::ElapsedHours
                : letter == 'm'        ? TokenKind::ElapsedMinutes
                                       : TokenKind::ElapsedSeconds;
            token.count = static_cast<uint16_t>(content.size() > 64 ? 64 : content.size());
            m_tokens.push_back(token);
            return true;
        }
    }
    // Colours, calendars and numeral systems change nothing in the text.
    static constexpr std::string_view Ignored[]
        = { "black", "blue", "cyan", "green", "magenta", "red", "white", "yellow", "eng", "hij", "jpn", "twn" };
    for (std::string_view word : Ignored) {
        if (EqualsNoCase(content, word))
            return true;
    }
    for (std::string_view prefix :
        { std::string_view("color"), std::string_view("dbnum"), std::string_view("natnum") }) {
        if (content.size() > prefix.size() && StartsWithNoCase(content, 0, prefix)) {
            size_t i = prefix.size();
            while (i < content.size() && content[i] == ' ')
                ++i; // [Color 10] is read like [Color10]
            bool digits = i < content.size();
            for (; i < content.size(); ++i)
                digits = digits && content[i] >= '0' && content[i] <= '9';
            if (digits)
                return true;
        }
    }
    return false;
}

bool SectionParser::Tokenize(std::string_view source)
{
    size_t i = 0;
    const size_t n = source.size();
    auto nextLength = [&](size_t at) {
        const size_t length = Utf8Length(static_cast<unsigned char>(source[at]));
        return at + length > n ? n - at : length;
    };
    while (i < n) {
        const char c = source[i];
        Token token;
        switch (c) {
        case '"': {
            const size_t close = source.find('"', i + 1);
            if (close == std::string_view::npos)
                return false;
            AddLiteral(source.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        case '\\':
        case '_':
        case '*': {
            if (i + 1 >= n)
                return false;
            const size_t length = nextLength(i + 1);
            if (c == '\\')
                AddLiteral(source.substr(i + 1, length));
            else if (c == '_')
                AddLiteral(" "); // the width of the next character: one space
            // '*' repeats its character to fill the column; with no column width, nothing.
            i += 1 + length;
            continue;
        }
        case '[': {
            const size_t close = source.find(']', i + 1);
            if (close == std::string_view::npos || !Bracket(source.substr(i + 1, close - i - 1)))
                return false;
            i = close + 1;
            continue;
        }
        case '@':
            token.kind = TokenKind::Text;
            break;
        case '0':
        case '#':
        case '?':
            token.kind = TokenKind::Digit;
            token.ch = c;
            break;
        case '.':
            token.kind = TokenKind::Point;
            break;
        case ',':
            token.kind = TokenKind::Comma;
            break;
        case '%':
            token.kind = TokenKind::Percent;
            break;
        case '/':
            token.kind = TokenKind::Slash;
            break;
        case ']':
            return false;
        default:
            break;
        }
        if (token.kind != TokenKind::Literal) {
            m_tokens.push_back(token);
            ++i;
            continue;
        }
        if ((c == 'E' || c == 'e') && i + 1 < n && (source[i + 1] == '+' || source[i + 1] == '-')) {
            token.kind = TokenKind::Exponent;
            token.ch = c;
            token.plus = source[i + 1] == '+';
            m_tokens.push_back(token);
            i += 2;
            continue;
        }
        const char letter = Lower(c);
        if (letter == 'g' && StartsWithNoCase(source, i, "general")) {
            token.kind = TokenKind::General;
            m_tokens.push_back(token);
            i += 7;
            continue;
        }
        if (letter == 'a') {
            const size_t length = StartsWithNoCase(source, i, "am/pm") ? 5 : StartsWithNoCase(source, i, "a/p") ? 3 : 0;
            if (length > 0) {
                token = Literal(source.substr(i, length));
                token.kind = TokenKind::AmPm;
                m_tokens.push_back(token);
                i += length;
                continue;
            }
            // A near-miss of AM/PM ("AM", "AM/", "AM/P") is plain text as a whole.
            size_t near = 1;
            while (near < 4 && i + near < n && Lower(source[i + near]) == "am/pm"[near])
                ++near;
            AddLiteral(source.substr(i, near));
            i += near;
            continue;
        }
        if (letter == 'b' && i + 1 < n && (source[i + 1] == '1' || source[i + 1] == '2')) {
            // B1 and B2 choose the Gregorian or the Hijri calendar for the dates that follow.
            m_section.hijri = source[i + 1] == '2';
            i += 2;
            continue;
        }
        if (letter == 'y' || letter == 'm' || letter == 'd' || letter == 'h' || letter == 's' || letter == 'b'
            || letter == 'e' || letter == 'g') {
            size_t run = 1;
            while (i + run < n && Lower(source[i + run]) == letter)
                ++run;
            i += run;
            if (letter == 'g')
                continue; // era names exist only in East Asian calendars; the Gregorian one shows none
            token.kind = letter == 'y' ? TokenKind::Year
                : letter == 'm'        ? TokenKind::Month
                : letter == 'd'        ? TokenKind::Day
                : letter == 'h'        ? TokenKind::Hour
                : letter == 's'        ? TokenKind::Second
                : letter == 'b'        ? TokenKind::BuddhistYear
                                       : TokenKind::EraYear;
            token.count = static_cast<uint16_t>(run > 64 ? 64 : run);
            m_tokens.push_back(token);
            continue;
        }
        // Any other character, a letter that is no format token included, shows as itself.
        const size_t length = nextLength(i);
        AddLiteral(source.substr(i, length), c >= '1' && c <= '9');
        i += length;
    }
    return true;
}

void SectionParser::Resolve()
{
    bool hasText = false;
    bool hasDate = false;
    for (const Token& token : m_tokens) {
        hasText = hasText || token.kind == TokenKind::Text;
        hasDate = hasDate || IsDateKind(token.kind);
    }
    if (hasText) {
        LiteralDigitsAsText();
        ResolveText();
    } else if (hasDate) {
        LiteralDigitsAsText();
        ResolveDate();
    } else {
        ResolveNumber();
    }
}

// Outside a number section a literal digit is plain text like any other.
void SectionParser::LiteralDigitsAsText()
{
    for (Token& token : m_tokens) {
        if (token.kind == TokenKind::DigitLiteral)
            token.kind = TokenKind::Literal;
    }
}

// The character a working token stands for when it turns out to be plain text.
std::string_view Spelling(const Token& token)
{
    switch (token.kind) {
    case TokenKind::Digit:
        return token.ch == '0' ? "0" : token.ch == '#' ? "#" : "?";
    case TokenKind::Point:
        return ".";
    case TokenKind::Comma:
        return ",";
    case TokenKind::Percent:
        return "%";
    case TokenKind::Slash:
        return "/";
    case TokenKind::Exponent:
        return token.plus ? (token.ch == 'e' ? "e+" : "E+") : (token.ch == 'e' ? "e-" : "E-");
    default:
        return {};
    }
}

void SectionParser::ResolveText()
{
    m_section.kind = SectionKind::Text;
    std::vector<Token> tokens;
    for (const Token& token : m_tokens) {
        if (token.kind == TokenKind::Text || token.kind == TokenKind::Literal) {
            tokens.push_back(token);
        } else if (std::string_view spelling = Spelling(token); !spelling.empty()) {
            tokens.push_back(Literal(spelling));
        }
    }
    m_section.transformsText = !(tokens.size() == 1 && tokens[0].kind == TokenKind::Text);
    m_section.onlySpacing = std::all_of(tokens.begin(), tokens.end(),
        [this](const Token& token) { return token.kind != TokenKind::Literal || IsSpaces(token); });
    m_section.tokens = std::move(tokens);
}

void SectionParser::ResolveDate()
{
    m_section.kind = SectionKind::Date;
    ResolveMinutes();
    std::vector<Token> tokens;
    for (size_t i = 0; i < m_tokens.size(); ++i) {
        const Token& token = m_tokens[i];
        if (token.kind == TokenKind::Point && !tokens.empty() && IsClockKind(tokens.back().kind)
            && i + 1 < m_tokens.size() && m_tokens[i + 1].kind == TokenKind::Digit && m_tokens[i + 1].ch == '0') {
            Token sub;
            sub.kind = TokenKind::SubSecond;
            while (i + 1 < m_tokens.size() && m_tokens[i + 1].kind == TokenKind::Digit && m_tokens[i + 1].ch == '0') {
                ++sub.count;
                ++i;
            }
            tokens.push_back(sub);
            const uint32_t digits = sub.count > 3 ? 3 : sub.count;
            if (digits > m_section.subSecondDigits)
                m_section.subSecondDigits = digits;
            continue;
        }
        if (IsDateKind(token.kind) || token.kind == TokenKind::Literal) {
            tokens.push_back(token);
        } else if (std::string_view spelling = Spelling(token); !spelling.empty()) {
            Token literal = Literal(spelling);
            tokens.push_back(literal);
        }
    }
    for (const Token& token : tokens) {
        m_section.twelveHour = m_section.twelveHour || token.kind == TokenKind::AmPm;
        m_section.needsDate = m_section.needsDate || token.kind == TokenKind::Year || token.kind == TokenKind::Month
            || token.kind == TokenKind::Day || token.kind == TokenKind::EraYear
            || token.kind == TokenKind::BuddhistYear;
    }
    m_section.tokens = std::move(tokens);
}

// "m" is minutes right after an hour or right before a second (other tokens between them
// being plain text); otherwise it is the month.
void SectionParser::ResolveMinutes()
{
    auto isTimeOrDate = [](TokenKind kind) { return IsDateKind(kind) && kind != TokenKind::AmPm; };
    for (size_t i = 0; i < m_tokens.size(); ++i) {
        Token& token = m_tokens[i];
        if (token.kind != TokenKind::Month || token.count > 2)
            continue;
        bool minute = false;
        for (size_t j = i; j-- > 0;) {
            if (isTimeOrDate(m_tokens[j].kind)) {
                minute = m_tokens[j].kind == TokenKind::Hour || m_tokens[j].kind == TokenKind::ElapsedHours;
                break;
            }
        }
        for (size_t j = i + 1; !minute && j < m_tokens.size(); ++j) {
            if (isTimeOrDate(m_tokens[j].kind)) {
                minute = m_tokens[j].kind == TokenKind::Second || m_tokens[j].kind == TokenKind::ElapsedSeconds;
                break;
            }
        }
        if (minute)
            token.kind = TokenKind::Minute;
    }
}

void SectionParser::ResolveNumber()
{
    m_section.kind = SectionKind::Number;
    const size_t n = m_tokens.size();
    NumberLayout layout { n, n, n, n, n, n, std::vector<bool>(n, false), std::vector<bool>(n, false) };
    FindExponent(layout);
    FindPoint(layout);
    FindFraction(layout);
    m_section.fraction = layout.slashAt != n;
    if (m_section.fraction)
        FoldFixedDenominator(layout);
    AssignParts(layout);
}

// The first token of a kind before `end`; any later one is plain text. n when there is none.
size_t SectionParser::FirstOf(TokenKind kind, size_t end, NumberLayout& layout) const
{
    size_t first = m_tokens.size();
    for (size_t i = 0; i < end; ++i) {
        if (m_tokens[i].kind != kind)
            continue;
        if (first == m_tokens.size())
            first = i;
        else
            layout.asLiteral[i] = true;
    }
    return first;
}

// The first E+ or E- starts the exponent.
void SectionParser::FindExponent(NumberLayout& layout) const
{
    layout.exponentAt = FirstOf(TokenKind::Exponent, m_tokens.size(), layout);
}

// The first point before the exponent is the decimal point.
void SectionParser::FindPoint(NumberLayout& layout) const
{
    layout.pointAt = FirstOf(TokenKind::Point, layout.exponentAt, layout);
}

bool SectionParser::IsSpaces(const Token& token) const
{
    return token.kind == TokenKind::Literal
        && m_section.text.compare(token.offset, token.length, std::string(token.length, ' ')) == 0;
}

// A fraction: placeholders, a slash, then (past any spaces) placeholders or a fixed
// denominator. Sections with a point or an exponent have none.
void SectionParser::FindFraction(NumberLayout& layout) const
{
    const std::vector<Token>& t = m_tokens;
    const size_t n = t.size();
    if (layout.exponentAt != n || layout.pointAt != n)
        return;
    for (size_t i = 0; i < n; ++i) {
        if (t[i].kind != TokenKind::Slash)
            continue;
        size_t j = i;
        while (j > 0 && t[j - 1].kind != TokenKind::Digit)
            --j;
        if (j == 0)
            continue;
        while (j > 0 && t[j - 1].kind == TokenKind::Digit)
            --j;
        size_t k = i + 1;
        while (k < n && IsSpaces(t[k]))
            ++k;
        size_t end = k;
        while (end < n && (t[end].kind == TokenKind::Digit || t[end].kind == TokenKind::DigitLiteral))
            ++end;
        if (end == k)
            continue;
        layout.slashAt = i;
        layout.numeratorBegin = j;
        layout.denominatorBegin = k;
        layout.denominatorEnd = end;
        return;
    }
}

// A denominator holding a written digit is fixed: its digits, placeholders read as 0,
// become one token shown as written.
void SectionParser::FoldFixedDenominator(NumberLayout& layout)
{
    std::vector<Token>& t = m_tokens;
    bool fixed = false;
    for (size_t i = layout.denominatorBegin; i < layout.denominatorEnd; ++i)
        fixed = fixed || t[i].kind == TokenKind::DigitLiteral;
    if (!fixed)
        return;
    int64_t value = 0;
    std::string digits;
    for (size_t i = layout.denominatorBegin; i < layout.denominatorEnd; ++i) {
        const char c = t[i].kind == TokenKind::Digit ? t[i].ch : m_section.text[t[i].offset];
        digits += c;
        if (value < 100000000)
            value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    m_section.fixedDenominator = value > 0 ? value : 1;
    Token folded = Literal(digits);
    folded.kind = TokenKind::FixedDenominator;
    folded.part = DigitPart::Denominator;
    t[layout.denominatorBegin] = folded;
    for (size_t i = layout.denominatorBegin + 1; i < layout.denominatorEnd; ++i)
        layout.dropped[i] = true;
}

// Numbers each placeholder within its part and turns the working tokens (commas, percent,
// stray slashes and digits) into scaling, separators or plain text.
void SectionParser::AssignParts(const NumberLayout& layout)
{
    const std::vector<Token>& t = m_tokens;
    const size_t n = t.size();
    std::vector<Token> tokens;
    DigitPart part = DigitPart::Integer;
    for (size_t i = 0; i < n; ++i) {
        Token token = t[i];
        if (i == layout.pointAt)
            part = DigitPart::Fraction;
        if (i == layout.exponentAt)
            part = DigitPart::ExponentDigits;
        if (m_section.fraction) {
            if (i >= layout.numeratorBegin && i < layout.slashAt)
                part = DigitPart::Numerator;
            else if (i > layout.slashAt)
                part = DigitPart::Denominator;
        }
        if (layout.dropped[i])
            continue;
        if (layout.asLiteral[i]) {
            tokens.push_back(Literal(Spelling(token)));
            continue;
        }
        switch (token.kind) {
        case TokenKind::Digit:
            m_section.hasPlaceholders = true;
            token.part = part;
            if (part == DigitPart::Integer) {
                token.index = m_section.integerDigits++;
                m_section.integerAllZero = m_section.integerAllZero && token.ch == '0';
            } else if (part == DigitPart::Fraction) {
                token.index = m_section.fractionDigits++;
            } else if (part == DigitPart::ExponentDigits) {
                token.index = m_section.exponentDigits++;
            } else if (part == DigitPart::Numerator) {
                token.index = m_section.numeratorDigits++;
                m_section.numeratorPattern += token.ch;
            } else {
                token.index = m_section.denominatorDigits++;
                m_section.denominatorPattern += token.ch;
            }
            tokens.push_back(token);
            break;
        case TokenKind::Point:
        case TokenKind::Exponent:
            m_section.exponent = m_section.exponent || token.kind == TokenKind::Exponent;
            tokens.push_back(token);
            break;
        case TokenKind::Slash:
            if (i == layout.slashAt)
                tokens.push_back(token);
            else
                tokens.push_back(Literal("/"));
            break;
        case TokenKind::Percent:
            m_section.scale += 2;
            tokens.push_back(Literal("%"));
            break;
        case TokenKind::Comma: {
            size_t end = i;
            while (end < n && t[end].kind == TokenKind::Comma)
                ++end;
            const bool digitAfter = end < n && t[end].kind == TokenKind::Digit && part == DigitPart::Integer
                && (layout.pointAt == n || end < layout.pointAt) && end < layout.exponentAt
                && (!m_section.fraction || end < layout.numeratorBegin);
            bool digitBefore = false;
            for (size_t j = 0; j < i; ++j)
                digitBefore = digitBefore || t[j].kind == TokenKind::Digit;
            if (digitAfter) {
                m_section.thousands = true;
            } else if (digitBefore) {
                m_section.scale -= 3 * static_cast<int>(end - i);
            } else {
                for (size_t j = i; j < end; ++j)
                    tokens.push_back(Literal(","));
            }
            i = end - 1;
            break;
        }
        case TokenKind::General:
            m_section.hasGeneral = true;
            tokens.push_back(token);
            break;
        case TokenKind::DigitLiteral:
            token.kind = TokenKind::Literal;
            tokens.push_back(token);
            break;
        default:
            tokens.push_back(token);
            break;
        }
    }
    if (m_section.fixedDenominator > 0)
        m_section.denominatorDigits = static_cast<uint32_t>(layout.denominatorEnd - layout.denominatorBegin);
    // A scale beyond any double's range only makes every value 0 or huge; keep it bounded.
    m_section.scale = std::clamp(m_section.scale, -400, 400);
    m_section.tokens = std::move(tokens);
}

// Marks a number section as plain fixed-point (Section::plainFixed) when its tokens are
// literals, integer placeholders '#' then '0', an optional point with '0' placeholders
// after it, and literals.
void MarkPlainFixed(Section& section)
{
    if (section.kind != SectionKind::Number || section.exponent || section.fraction || section.hasGeneral
        || section.integerDigits == 0 || section.fractionDigits > 15)
        return;
    const std::vector<Token>& tokens = section.tokens;
    size_t i = 0;
    while (i < tokens.size() && tokens[i].kind == TokenKind::Literal)
        ++i;
    const size_t from = i;
    uint32_t zeros = 0;
    for (; i < tokens.size() && tokens[i].kind == TokenKind::Digit && tokens[i].part == DigitPart::Integer; ++i) {
        if (tokens[i].ch == '0')
            ++zeros;
        else if (tokens[i].ch != '#' || zeros > 0)
            return;
    }
    if (i - from != section.integerDigits)
        return;
    bool point = false;
    if (i < tokens.size() && tokens[i].kind == TokenKind::Point) {
        point = true;
        for (++i; i < tokens.size() && tokens[i].kind == TokenKind::Digit && tokens[i].part == DigitPart::Fraction;
             ++i) {
            if (tokens[i].ch != '0')
                return;
        }
    }
    const size_t to = i;
    for (; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Literal)
            return;
    }
    if (section.fractionDigits != 0 && !point)
        return;
    std::string prefix, suffix;
    for (size_t k = 0; k < tokens.size(); ++k) {
        std::string& literals = k < from ? prefix : suffix;
        if (k < from || k >= to)
            literals.append(section.text, tokens[k].offset, tokens[k].length);
    }
    if (prefix.size() > kPlainLiteralRoom || suffix.size() > kPlainLiteralRoom)
        return;
    std::memcpy(section.plainPrefix + kPlainLiteralRoom - prefix.size(), prefix.data(), prefix.size());
    std::memcpy(section.plainSuffix, suffix.data(), suffix.size());
    section.plainPrefixLength = static_cast<uint8_t>(prefix.size());
    section.plainSuffixLength = static_cast<uint8_t>(suffix.size());
    section.plainFixed = true;
    section.plainPoint = point;
    section.integerZeros = zeros;
}

// Fills Section::datePieces for a plain date section whose fields are numbers and AM/PM.
void CompileDatePieces(Section& section)
{
    std::vector<DatePiece> pieces;
    auto field = [&](DateField which, uint8_t minDigits) {
        DatePiece piece;
        piece.field = which;
        piece.minDigits = minDigits;
        pieces.push_back(piece);
    };
    for (const Token& token : section.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            for (uint32_t i = 0; i < token.length; ++i) {
                if (pieces.empty() || pieces.back().literalLength == sizeof(DatePiece::literal))
                    field(NoField, 0);
                DatePiece& piece = pieces.back();
                piece.literal[piece.literalLength++] = section.text[token.offset + i];
            }
            continue;
        case TokenKind::Year:
            if (token.count > 2)
                field(Century, 2);
            field(YearOfCentury, 2);
            break;
        case TokenKind::Month:
            if (token.count > 2)
                return;
            field(MonthField, token.count == 2 ? 2 : 1);
            break;
        case TokenKind::Day:
            if (token.count > 2)
                return;
            field(DayField, token.count == 2 ? 2 : 1);
            break;
        case TokenKind::Hour:
            field(section.twelveHour ? Hour12 : Hour24, token.count >= 2 ? 2 : 1);
            break;
        case TokenKind::Minute:
            field(MinuteField, token.count >= 2 ? 2 : 1);
            break;
        case TokenKind::Second:
            field(SecondField, token.count >= 2 ? 2 : 1);
            break;
        case TokenKind::AmPm:
            if (token.length != 5) // A/P, shown as written
                return;
            field(Afternoon, 2);
            break;
        default:
            return;
        }
    }
    section.datePieces = std::move(pieces);
}

// Sets Section::plainDateLength for a Gregorian date section of literals, years, months,
// days, clock times and AM/PM.
void MarkPlainDate(Section& section)
{
    if (section.kind != SectionKind::Date || section.hijri)
        return;
    uint32_t length = 0;
    for (const Token& token : section.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            length += token.length;
            break;
        case TokenKind::Year:
            length += 4;
            break;
        case TokenKind::Month:
        case TokenKind::Day:
            length += 9; // September, Wednesday
            break;
        case TokenKind::Hour:
        case TokenKind::Minute:
        case TokenKind::Second:
        case TokenKind::AmPm:
            length += 2;
            break;
        case TokenKind::SubSecond:
            length += 1 + token.count;
            break;
        default:
            return;
        }
        if (length > kMaxPlainDateLength)
            return;
    }
    section.plainDateLength = std::max<uint32_t>(length, 1);
    CompileDatePieces(section);
}

} // namespace

namespace {

// The US English code standing for a section that holds a tag of the system's long date
// or time; nothing for any other section.
std::optional<std::string_view> SystemDateTimeCode(std::string_view section)
{
    std::string lower(section);
    for (char& c : lower)
        c = Lower(c);
    if (lower.find("[$-f800]") != std::string::npos || lower.find("[$-x-sysdate]") != std::string::npos)
        return std::string_view("dddd, mmmm d, yyyy");
    if (lower.find("[$-f400]") != std::string::npos || lower.find("[$-x-systime]") != std::string::npos)
        return std::string_view("h:mm:ss AM/PM");
    return std::nullopt;
}

} // namespace

bool ParseFormatCode(std::string_view code, ParsedFormat& parsed)
{
    parsed = ParsedFormat();
    if (code.size() > MaxCodeLength)
        return false;
    std::string_view pieces[5];
    size_t count = 0;
    size_t start = 0;
    for (size_t i = 0; i <= code.size(); ++i) {
        if (i < code.size()) {
            const char c = code[i];
            if (c == '"') {
                const size_t close = code.find('"', i + 1);
                if (close == std::string_view::npos)
                    return false;
                i = close;
                continue;
            }
            if (c == '\\' || c == '_' || c == '*') {
                // Skip the escaped character, a truncated UTF-8 sequence ending the code included.
                if (i + 1 < code.size())
                    i = std::min(i + Utf8Length(static_cast<unsigned char>(code[i + 1])), code.size() - 1);
                continue;
            }
            if (c == '[') {
                const size_t close = code.find(']', i + 1);
                if (close == std::string_view::npos)
                    return false;
                i = close;
                continue;
            }
            if (c != ';')
                continue;
        }
        if (count == 4)
            return false;
        pieces[count++] = code.substr(start, (i < code.size() ? i : code.size()) - start);
        start = i + 1;
    }
    parsed.sectionCount = static_cast<uint32_t>(count);
    for (size_t s = 0; s < count; ++s) {
        // The system's long date and time ([$-F800], [$-F400], or [$-x-sysdate] and
        // [$-x-systime] as newer versions write them) take the place of the codes
        // written after them, which are only what the writer's system showed: the
        // application shows the forms of its own system, here US English.
        if (const auto system = SystemDateTimeCode(pieces[s]))
            pieces[s] = *system;
        SectionParser parser(parsed.sections[s]);
        if (!parser.Tokenize(pieces[s]))
            return false;
        parser.Resolve();
        MarkPlainFixed(parsed.sections[s]);
        MarkPlainDate(parsed.sections[s]);
        for (const Token& token : parsed.sections[s].tokens) {
            parsed.sections[s].showsWeekday |= token.kind == TokenKind::Day && token.count > 2;
            parsed.sections[s].showsTime |= token.kind == TokenKind::Hour || token.kind == TokenKind::Minute
                || token.kind == TokenKind::Second || token.kind == TokenKind::AmPm;
        }
    }
    const Section& first = parsed.sections[0];
    parsed.general = count == 1 && first.condition == ConditionOp::None && first.tokens.size() == 1
        && first.tokens[0].kind == TokenKind::General;
    if (count == 1 && first.tokens.empty())
        parsed.general = true; // an empty code
    if (count == 4) {
        parsed.textSection = 3;
        Section& text = parsed.sections[3];
        text.transformsText = text.kind != SectionKind::Text || text.transformsText;
    } else if (parsed.sections[count - 1].kind == SectionKind::Text) {
        parsed.textSection = static_cast<int>(count - 1);
    }
    parsed.numberSections = parsed.textSection >= 0 ? static_cast<uint32_t>(parsed.textSection) : parsed.sectionCount;
    parsed.conditional
        = first.condition != ConditionOp::None || (count > 1 && parsed.sections[1].condition != ConditionOp::None);
    const uint32_t n = parsed.numberSections;
    parsed.negativeSection = n >= 2 ? 1 : 0;
    parsed.zeroSection = n >= 3 ? 2 : 0;
    for (uint32_t index = 0; index < n; ++index) {
        Section& section = parsed.sections[index];
        const bool implicitNegative = !parsed.conditional && index == 1;
        const bool explicitNegative
            = (section.condition == ConditionOp::Less || section.condition == ConditionOp::LessEqual)
            && section.bound == 0.0;
        const bool defaultNegative
            = parsed.conditional && index == 1 && section.condition == ConditionOp::None && n >= 3;
        // The second section shows a negative number it takes by its own condition
        // ([<-100]) without the sign, as it shows those it takes by default: its own
        // literals say what the sign is ("[<-100]-0" shows -150 as "-150").
        const bool secondByCondition = index == 1 && section.condition != ConditionOp::None;
        section.minusShown = !(implicitNegative || explicitNegative || defaultNegative || secondByCondition);
    }
    if (parsed.general || n == 0) {
        parsed.quickPath = QuickPath::General;
    } else if (n == 1 && !parsed.conditional) {
        if (first.kind == SectionKind::Number && first.plainFixed)
            parsed.quickPath = QuickPath::PlainFixed;
        else if (first.kind == SectionKind::Date)
            parsed.quickPath = QuickPath::Date;
    }
    parsed.dateTimeParts = ClassifyDateTime(parsed);
    return true;
}

} // namespace vellumcast::spreadsheet::numfmt
