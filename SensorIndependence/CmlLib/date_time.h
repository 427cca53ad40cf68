// The two value types of task schedules: an XML Schema date-time and an XML Schema duration,
// each read from the text of a DOM attribute and written in its lexical form.
#pragma once

#include <cstdint>
#include <ios>
#include <ostream>
#include <string>

#include "SensorIndependence/CmlLib/dom_wrappers.h"

namespace zel::cml::XmlUtils {

// A date and time of day with an optional time-zone offset; null while the year is 0.
class CDateTime {
public:
    // All fields zero, no time zone (null).
    CDateTime() = default;
    CDateTime(const CDateTime&) = default;
    virtual ~CDateTime();

    virtual CDateTime& operator=(const CDateTime& other);
    // Clears, then reads the attribute's text field by field: year, month, day, hour, minute
    // (integers) and seconds (a decimal number), one character skipped between fields and
    // not examined; then "Z" for UTC or a signed hour offset, one character and a minute
    // offset. Reading stops at the first field that cannot be read (the fields read so far
    // remain); no field is range-checked. A null node throws CCmlException ("Processing
    // dateTime value", "Null element received", 0xC738000F); a DOM failure throws with
    // "Deserializing a dateTime node".
    virtual void Parse(const CCmlDOM_Node& attribute);
    // "YYYY-MM-DDThh:mm:" + the seconds in fixed notation with the stream's precision in 9
    // characters (05.000000) + "Z" or "+hh:mm"/"-hh:mm" when a time zone is set.
    virtual void Serialize(std::basic_ostream<char16_t>& stream) const;
    virtual void Serialize(std::ostream& stream) const;
    // True while the year is 0.
    virtual bool IsNull() const;

    virtual int32_t GetYear() const;
    virtual int32_t GetMonth() const;
    virtual int32_t GetDay() const;
    virtual int32_t GetHour() const;
    virtual int32_t GetMinute() const;
    virtual double GetSeconds() const;
    virtual bool HasTimeZone() const;
    virtual int32_t GetTimeZoneHours() const;
    virtual int32_t GetTimeZoneMinutes() const;
    virtual void SetYear(int32_t year);
    virtual void SetMonth(int32_t month);
    virtual void SetDay(int32_t day);
    virtual void SetHour(int32_t hour);
    virtual void SetMinute(int32_t minute);
    virtual void SetSeconds(double seconds);
    virtual void SetHasTimeZone(bool hasTimeZone);
    virtual void SetTimeZoneHours(int32_t hours);
    virtual void SetTimeZoneMinutes(int32_t minutes);
    // All fields zero, no time zone.
    virtual void Clear();

    // The lexical form with `precision` digits after the seconds' decimal point (6 when
    // negative, at most 100).
    std::u16string ToText(std::streamsize precision) const;

private:
    int32_t m_year = 0;
    int32_t m_month = 0;
    int32_t m_day = 0;
    int32_t m_hour = 0;
    int32_t m_minute = 0;
    double m_seconds = 0;
    bool m_hasTimeZone = false;
    int32_t m_tzHours = 0;
    int32_t m_tzMinutes = 0;
};

// A signed span of years, months, days, hours, minutes and seconds; null until set or read.
class CDuration {
public:
    // Null, not negative, every amount zero.
    CDuration() = default;
    CDuration(const CDuration&) = default;
    virtual ~CDuration();

    virtual CDuration& operator=(const CDuration& other);
    // Clears, then reads the attribute's text: a designator character (not examined), "-" for
    // a negative duration, then number-designator pairs, Y, M and D before a "T" and H, M and
    // S after it (amounts other than seconds truncated; a number with another designator is
    // dropped), until a number cannot be read. Not null once a number was read; no amount is
    // range-checked beyond what 32 bits hold. A null node throws CCmlException ("Processing
    // duration value", "Null element received", 0xC738000F).
    virtual void Parse(const CCmlDOM_Node& attribute);
    // [-]PnYnMnDTnHnMnS, every part always, the seconds in the stream's default floating-point
    // notation: P0Y0M1DT0H0M0S, P0Y0M0DT0H90M1.5S.
    virtual void Serialize(std::basic_ostream<char16_t>& stream) const;
    virtual void Serialize(std::ostream& stream) const;
    virtual bool IsNull() const;
    virtual bool IsNegative() const;

    virtual int32_t GetYears() const;
    virtual int32_t GetMonths() const;
    virtual int32_t GetDays() const;
    virtual int32_t GetHours() const;
    virtual int32_t GetMinutes() const;
    virtual double GetSeconds() const;
    virtual void SetNull(bool isNull);
    virtual void SetNegative(bool negative);
    // Setting an amount leaves the null flag as it is.
    virtual void SetYears(int32_t years);
    virtual void SetMonths(int32_t months);
    virtual void SetDays(int32_t days);
    virtual void SetHours(int32_t hours);
    virtual void SetMinutes(int32_t minutes);
    virtual void SetSeconds(double seconds);
    // Null, not negative, every amount zero.
    virtual void Clear();

    // The lexical form with the seconds in `precision` significant digits (6 when negative,
    // at most 100).
    std::u16string ToText(std::streamsize precision) const;

private:
    bool m_isNull = true;
    bool m_negative = false;
    int32_t m_years = 0;
    int32_t m_months = 0;
    int32_t m_days = 0;
    int32_t m_hours = 0;
    int32_t m_minutes = 0;
    double m_seconds = 0;
};

}  // namespace zel::cml::XmlUtils
