#include "uDateTime.h"
#include "uMailDateParser.h"

#include <gtest/gtest.h>

#include <ctime>

namespace kelvora {
namespace {

// Each test sets the machine's zone through TZ and the clock to a day whose
// daylight state it knows.
class MailDateParserTest : public ::testing::Test {
protected:
    void SetUp() override { FSaved = qgetenv("TZ"); }
    void TearDown() override
    {
        if (FSaved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", FSaved);
        tzset();
        SetFakeClock(QDateTime());
    }
    // Kyiv's rules: two hours east in standard time, three in daylight time.
    static void Kyiv(bool Summer)
    {
        qputenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4");
        tzset();
        SetFakeClock(QDateTime(QDate(2013, Summer ? 7 : 1, 15), QTime(12, 0)));
    }
    static QString Text(TDateTime Value)
    {
        return QDateTimeFromDateTime(Value).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }

    QByteArray FSaved;
};

TEST_F(MailDateParserTest, NumericZoneIsTakenToLocalTime)
{
    Kyiv(false);
    EXPECT_EQ(Text(ParseMailDate("Tue, 7 May 2013 10:15:30 +0300")), "2013-05-07 09:15:30");
    EXPECT_EQ(Text(ParseMailDate("Tue,7 May 2013 10:15:30 +0300")), "2013-05-07 09:15:30");
    EXPECT_EQ(Text(ParseMailDate("  tue, 07 may 2013 10:15:30 -0130 (comment)")), "2013-05-07 13:45:30");
    // The offset in force now is used, whatever the message's date.
    Kyiv(true);
    EXPECT_EQ(Text(ParseMailDate("Tue, 7 Jan 2013 10:15:30 +0300")), "2013-01-07 10:15:30");
}

TEST_F(MailDateParserTest, ZoneNamesShortZonesAndHyphensCountAsUniversalTime)
{
    Kyiv(false);
    EXPECT_EQ(Text(ParseMailDate("7-May-2013 10:15:30 GMT")), "2013-05-07 12:15:30");
    EXPECT_EQ(Text(ParseMailDate("7 May 2013 10:15:30 EET")), "2013-05-07 12:15:30");
    // A sign and two digits is too short to be read as a zone.
    EXPECT_EQ(Text(ParseMailDate("7 May 2013 10:15:30 +03")), "2013-05-07 12:15:30");
    // A zone that is no time of day counts as none.
    EXPECT_EQ(Text(ParseMailDate("7 May 2013 10:15:30 +2500")), "2013-05-07 12:15:30");
}

TEST_F(MailDateParserTest, TwoDigitYearsAndTwelveHourClock)
{
    qputenv("TZ", "UTC0");
    tzset();
    EXPECT_EQ(Text(ParseMailDate("7 May 13 10:15 PM +0000")), "2013-05-07 22:15:00");
    EXPECT_EQ(Text(ParseMailDate("7 May 85 12:05:01 AM")), "1985-05-07 00:05:01");
    EXPECT_EQ(Text(ParseMailDate("7 May 79 12:05:01 PM")), "2079-05-07 12:05:01");
    EXPECT_EQ(Text(ParseMailDate("7 May -5 10:00:00")), "1995-05-07 10:00:00"); // any year below 80
    // The text after PM goes with it, zone included.
    EXPECT_EQ(Text(ParseMailDate("7 May 2013 10:15 PM +0500")), "2013-05-07 22:15:00");
    // No time at all gives midnight.
    EXPECT_EQ(Text(ParseMailDate("Fri, 31 Dec 1999")), "1999-12-31 00:00:00");
}

TEST_F(MailDateParserTest, UnreadableDatesGiveZero)
{
    qputenv("TZ", "UTC0");
    tzset();
    EXPECT_EQ(ParseMailDate(""), 0);
    EXPECT_EQ(ParseMailDate("May 7 2013 10:15:30"), 0); // the year stands where the month is expected
    EXPECT_EQ(ParseMailDate("31 Feb 2013 10:00:00 +0000"), 0);
    EXPECT_EQ(ParseMailDate("7 Mai 2013"), 0);
    EXPECT_EQ(ParseMailDate("no date here"), 0);
    EXPECT_EQ(ParseMailDate("Wed,"), 0);
    // An impossible time keeps the date.
    EXPECT_EQ(Text(ParseMailDate("7 May 2013 25:61:00 +0000")), "2013-05-07 00:00:00");
}

} // namespace
} // namespace kelvora
