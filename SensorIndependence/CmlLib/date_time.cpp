#include "SensorIndependence/CmlLib/date_time.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "SensorIndependence/CmlLib/content_support.h"

namespace zel::cml::XmlUtils {

namespace {
constexpr const char16_t* kOpProcessDateTime = u"Processing dateTime value";
constexpr const char16_t* kOpProcessDuration = u"Processing duration value";
constexpr const char16_t* kOpDeserializeNode = u"Deserializing a dateTime node";

// A stream's precision beyond this many digits is not followed: the text of one attribute
// stays bounded whatever stream it is written to.
constexpr int kMaxPrecision = 100;

int Precision(std::streamsize precision) {
    if (precision < 0) return 6;
    return static_cast<int>(std::min<std::streamsize>(precision, kMaxPrecision));
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
// White space as the classic locale has it: blank, tab, line feed, vertical tab, form feed,
// carriage return.
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Reads the lexical forms as a wide string stream with the classic locale extracts them:
// numbers skip leading white space, one character is taken as it comes, and the first read
// that fails ends all reading.
class CLexicalReader {
public:
    explicit CLexicalReader(std::u16string_view text) : m_text(text) {}

    // One character, whatever it is; false at the end.
    bool Get(char16_t& c) {
        if (m_failed || m_at == m_text.size()) return Fail();
        c = m_text[m_at++];
        return true;
    }
    // True when the next character is `c` (nothing is taken).
    bool NextIs(char16_t c) const { return !m_failed && m_at < m_text.size() && m_text[m_at] == c; }
    bool AtEnd() const { return !m_failed && m_at == m_text.size(); }

    // A decimal integer with optional sign; fails without a digit or beyond 32 bits.
    bool ReadInteger(int32_t& value) {
        std::string digits;
        if (!Collect(digits, false)) return Fail();
        int32_t read = 0;
        const char* first = digits.data() + (digits[0] == '+' ? 1 : 0);
        const auto result = std::from_chars(first, digits.data() + digits.size(), read);
        if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return Fail();
        value = read;
        return true;
    }
    // A decimal number: optional sign, digits with an optional decimal point, an optional
    // exponent; fails without a digit, on an exponent without digits, or out of range.
    bool ReadNumber(double& value) {
        std::string text;
        if (!Collect(text, true)) return Fail();
        double read = 0;
        const char* first = text.data() + (text[0] == '+' ? 1 : 0);
        const auto result = std::from_chars(first, text.data() + text.size(), read);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return Fail();
        value = read;
        return true;
    }

private:
    bool Fail() {
        m_failed = true;
        return false;
    }
    // Takes white space, then the characters a number may consist of, into `out` (ASCII);
    // false when they hold no digit of the mantissa.
    bool Collect(std::string& out, bool decimal) {
        if (m_failed) return false;
        while (m_at < m_text.size() && IsSpace(m_text[m_at])) ++m_at;
        if (m_at < m_text.size() && (m_text[m_at] == u'+' || m_text[m_at] == u'-')) Take(out);
        bool mantissa = false;
        while (m_at < m_text.size() && IsDigit(m_text[m_at])) mantissa = Take(out);
        if (!decimal) return mantissa;
        if (m_at < m_text.size() && m_text[m_at] == u'.') {
            Take(out);
            while (m_at < m_text.size() && IsDigit(m_text[m_at])) mantissa = Take(out);
        }
        if (!mantissa) return false;
        if (m_at < m_text.size() && (m_text[m_at] == u'e' || m_text[m_at] == u'E')) {
            // Taken like a stream takes it: an exponent without digits spoils the number.
            Take(out);
            if (m_at < m_text.size() && (m_text[m_at] == u'+' || m_text[m_at] == u'-')) Take(out);
            bool exponent = false;
            while (m_at < m_text.size() && IsDigit(m_text[m_at])) exponent = Take(out);
            return exponent;
        }
        return true;
    }
    bool Take(std::string& out) {
        out += static_cast<char>(m_text[m_at++]);
        return true;
    }

    std::u16string_view m_text;
    std::size_t m_at = 0;
    bool m_failed = false;
};

// The attribute's text; a null node throws the "Null element received" error of `operation`.
std::u16string AttributeText(const CCmlDOM_Node& attribute, const char16_t* operation) {
    if (attribute.IsNull()) throw CCmlException(operation, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    std::u16string text;
    WithDomErrors(kOpDeserializeNode, [&] { text = attribute.GetNodeValue(); });
    return text;
}

void Append(std::u16string& out, std::string_view ascii) { out.append(ascii.begin(), ascii.end()); }

// `value` right-aligned in `width` characters, padded with zeros in front (before any sign).
void AppendPadded(std::u16string& out, int64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    if (digits.size() < width) out.append(width - digits.size(), u'0');
    Append(out, digits);
}

// `value` with its sign, padded with zeros after the sign to `width` characters.
void AppendSignedPadded(std::u16string& out, std::string text, bool showPlus, std::size_t width) {
    std::string sign;
    if (!text.empty() && text[0] == '-') {
        sign = "-";
        text.erase(0, 1);
    } else if (showPlus) {
        sign = "+";
    }
    Append(out, sign);
    if (sign.size() + text.size() < width) out.append(width - sign.size() - text.size(), u'0');
    Append(out, text);
}

std::string FormatDouble(double value, std::chars_format format, int precision) {
    // Fixed notation of the largest doubles takes 309 digits before the point.
    char buffer[320 + kMaxPrecision];
    const auto result = std::to_chars(std::begin(buffer), std::end(buffer), value, format, precision);
    return std::string(buffer, result.ptr);
}

template <typename CharT>
void WriteText(std::basic_ostream<CharT>& stream, const std::u16string& text) {
    XmlSink<CharT>(stream).Escaped(text, kEscapeText);
}

// The integer part of a duration amount; false when it does not fit 32 bits.
bool Truncate(double value, int32_t& out) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    out = static_cast<int32_t>(value);
    return true;
}
}  // namespace

// ---- CDateTime ----

CDateTime::~CDateTime() = default;

CDateTime& CDateTime::operator=(const CDateTime& other) = default;

void CDateTime::Parse(const CCmlDOM_Node& attribute) {
    const std::u16string text = AttributeText(attribute, kOpProcessDateTime);
    Clear();
    CLexicalReader reader(text);
    char16_t separator = 0;
    if (!reader.ReadInteger(m_year) || !reader.Get(separator) || !reader.ReadInteger(m_month) ||
        !reader.Get(separator) || !reader.ReadInteger(m_day) || !reader.Get(separator) ||
        !reader.ReadInteger(m_hour) || !reader.Get(separator) || !reader.ReadInteger(m_minute) ||
        !reader.Get(separator) || !reader.ReadNumber(m_seconds) || reader.AtEnd()) {
        return;
    }
    if (reader.NextIs(u'Z')) {
        m_hasTimeZone = true;
        return;
    }
    if (!reader.ReadInteger(m_tzHours)) return;
    m_hasTimeZone = true;
    if (reader.Get(separator)) reader.ReadInteger(m_tzMinutes);
}

std::u16string CDateTime::ToText(std::streamsize precision) const {
    std::u16string text;
    AppendPadded(text, m_year, 4);
    text += u'-';
    AppendPadded(text, m_month, 2);
    text += u'-';
    AppendPadded(text, m_day, 2);
    text += u'T';
    AppendPadded(text, m_hour, 2);
    text += u':';
    AppendPadded(text, m_minute, 2);
    text += u':';
    AppendSignedPadded(text, FormatDouble(m_seconds, std::chars_format::fixed, Precision(precision)), false, 9);
    if (m_hasTimeZone) {
        if (m_tzHours == 0 && m_tzMinutes == 0) {
            text += u'Z';
        } else {
            AppendSignedPadded(text, std::to_string(m_tzHours), true, 3);
            text += u':';
            AppendPadded(text, m_tzMinutes, 2);
        }
    }
    return text;
}

void CDateTime::Serialize(std::basic_ostream<char16_t>& stream) const { WriteText(stream, ToText(stream.precision())); }
void CDateTime::Serialize(std::ostream& stream) const { WriteText(stream, ToText(stream.precision())); }

bool CDateTime::IsNull() const { return m_year == 0; }

int32_t CDateTime::GetYear() const { return m_year; }
int32_t CDateTime::GetMonth() const { return m_month; }
int32_t CDateTime::GetDay() const { return m_day; }
int32_t CDateTime::GetHour() const { return m_hour; }
int32_t CDateTime::GetMinute() const { return m_minute; }
double CDateTime::GetSeconds() const { return m_seconds; }
bool CDateTime::HasTimeZone() const { return m_hasTimeZone; }
int32_t CDateTime::GetTimeZoneHours() const { return m_tzHours; }
int32_t CDateTime::GetTimeZoneMinutes() const { return m_tzMinutes; }
void CDateTime::SetYear(int32_t year) { m_year = year; }
void CDateTime::SetMonth(int32_t month) { m_month = month; }
void CDateTime::SetDay(int32_t day) { m_day = day; }
void CDateTime::SetHour(int32_t hour) { m_hour = hour; }
void CDateTime::SetMinute(int32_t minute) { m_minute = minute; }
void CDateTime::SetSeconds(double seconds) { m_seconds = seconds; }
void CDateTime::SetHasTimeZone(bool hasTimeZone) { m_hasTimeZone = hasTimeZone; }
void CDateTime::SetTimeZoneHours(int32_t hours) { m_tzHours = hours; }
void CDateTime::SetTimeZoneMinutes(int32_t minutes) { m_tzMinutes = minutes; }
void CDateTime::Clear() { *this = CDateTime(); }

// ---- CDuration ----

CDuration::~CDuration() = default;

CDuration& CDuration::operator=(const CDuration& other) = default;

void CDuration::Parse(const CCmlDOM_Node& attribute) {
    const std::u16string text = AttributeText(attribute, kOpProcessDuration);
    Clear();
    CLexicalReader reader(text);
    char16_t designator = 0;
    if (!reader.Get(designator)) return;
    if (designator == u'-') {
        m_negative = true;
        if (!reader.Get(designator)) return;
    }
    // Where an amount with `designator` goes ("M" is months before the "T", minutes after
    // it); null for one that is dropped.
    const auto amountFor = [this](bool timePart, char16_t designator) -> int32_t* {
        switch (designator) {
            case u'Y': return timePart ? nullptr : &m_years;
            case u'M': return timePart ? &m_minutes : &m_months;
            case u'D': return timePart ? nullptr : &m_days;
            case u'H': return timePart ? &m_hours : nullptr;
            default: return nullptr;
        }
    };
    // Reads number-designator pairs until a number cannot be read, or, before the "T", until
    // the "T"; false when reading has failed.
    const auto readAmounts = [&](bool timePart) {
        for (;;) {
            if (!timePart && reader.NextIs(u'T')) return true;
            double value = 0;
            if (!reader.ReadNumber(value)) return false;
            m_isNull = false;
            // Without a designator (the text ends) the number is dropped like any other.
            designator = 0;
            reader.Get(designator);
            if (timePart && designator == u'S') {
                m_seconds = value;
                continue;
            }
            int32_t* const amount = amountFor(timePart, designator);
            if (amount != nullptr && !Truncate(value, *amount)) return false;
        }
    };
    if (!readAmounts(false)) return;
    if (reader.Get(designator)) readAmounts(true);
}

std::u16string CDuration::ToText(std::streamsize precision) const {
    std::u16string text;
    if (m_negative) text += u'-';
    text += u'P';
    const auto part = [&](int32_t amount, std::string_view designator) {
        Append(text, std::to_string(amount));
        Append(text, designator);
    };
    part(m_years, "Y");
    part(m_months, "M");
    part(m_days, "DT");
    part(m_hours, "H");
    part(m_minutes, "M");
    Append(text, FormatDouble(m_seconds, std::chars_format::general, Precision(precision)));
    text += u'S';
    return text;
}

void CDuration::Serialize(std::basic_ostream<char16_t>& stream) const { WriteText(stream, ToText(stream.precision())); }
void CDuration::Serialize(std::ostream& stream) const { WriteText(stream, ToText(stream.precision())); }

bool CDuration::IsNull() const { return m_isNull; }
bool CDuration::IsNegative() const { return m_negative; }
int32_t CDuration::GetYears() const { return m_years; }
int32_t CDuration::GetMonths() const { return m_months; }
int32_t CDuration::GetDays() const { return m_days; }
int32_t CDuration::GetHours() const { return m_hours; }
int32_t CDuration::GetMinutes() const { return m_minutes; }
double CDuration::GetSeconds() const { return m_seconds; }
void CDuration::SetNull(bool isNull) { m_isNull = isNull; }
void CDuration::SetNegative(bool negative) { m_negative = negative; }
void CDuration::SetYears(int32_t years) { m_years = years; }
void CDuration::SetMonths(int32_t months) { m_months = months; }
void CDuration::SetDays(int32_t days) { m_days = days; }
void CDuration::SetHours(int32_t hours) { m_hours = hours; }
void CDuration::SetMinutes(int32_t minutes) { m_minutes = minutes; }
void CDuration::SetSeconds(double seconds) { m_seconds = seconds; }
void CDuration::Clear() { *this = CDuration(); }

}  // namespace zel::cml::XmlUtils
