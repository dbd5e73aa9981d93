#include "TestRoot.h"
#include "uCodePage.h"
#include "uException.h"
#include "uStreamImpl.h"
#include "uTransportContainer.h"

#include <QtEndian>

using namespace kelvora;
using TC = TTransportContainer;

namespace {

QByteArray Bytes(const IStreamPtr& Stream) { return StreamBytes(Stream); }

QByteArray Header(const char* Signature, quint32 Length, QByteArray Extra = {})
{
    QByteArray Result(Signature, qstrlen(Signature) + 1);
    Result += Extra;
    char Field[4];
    qToLittleEndian(Length, Field);
    return Result + QByteArray(Field, 4);
}

// The message of the Exception that Action raises, or "no error".
template <class F> QString ErrorOf(F&& Action)
{
    try {
        Action();
    } catch (const Exception& E) {
        return E.Message();
    }
    return QStringLiteral("no error");
}

} // namespace

TEST(TransportContainer, AddWritesExactHeadersAndLeavesTheSourceBytes)
{
    auto Inner = StreamOf("payload");
    Inner->SetPosition(4);
    auto Signed = TC::SignHeaderAdd(Inner);
    EXPECT_EQ(Bytes(Signed), Header("UA1_SIGN", 7) + "payload");
    EXPECT_EQ(Signed->GetPosition(), 0);
    EXPECT_EQ(Bytes(Inner), "payload");
    EXPECT_EQ(Bytes(TC::CryptHeaderAdd(Inner)), Header("UA1_CRYPT", 7) + "payload");
    EXPECT_EQ(Bytes(TC::ProtectedHeaderAdd(Inner, 3)), Header("QOR_PROTECTED", 7, QByteArray(1, 3)) + "payload");
}

TEST(TransportContainer, LayersAreRecognisedInOrderAndOnlyWithTheirZero)
{
    EXPECT_EQ(TC::GetSignature(StreamOf("")), SIGNATURE_NO);
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("UA1_SIGN\0\0\0\0", 12))), SIGNATURE_NO) << "12 bytes";
    EXPECT_EQ(TC::GetSignature(StreamOf(Header("UA1_SIGN", 0))), SIGNATURE_SIGN);
    EXPECT_EQ(TC::GetSignature(StreamOf(Header("UA1_CRYPT", 0))), SIGNATURE_CRYPT);
    EXPECT_EQ(TC::GetSignature(StreamOf(Header("TRANSPORTABLE", 0))), SIGNATURE_TRASPORTABLE);
    EXPECT_EQ(TC::GetSignature(StreamOf(Header("QOR_PROTECTED", 0, "\x01"))), SIGNATURE_PROTECTED);
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("USC_STAMP", 10) + QByteArray(36, 'x'))), SIGNATURE_STAMP);
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("USC_STAMP", 10) + QByteArray(35, 'x'))), SIGNATURE_NO);
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("UA1_SIGNX") + QByteArray(8, '\0'))), SIGNATURE_NO);
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("ua1_sign", 9) + QByteArray(8, '\0'))), SIGNATURE_NO);
    // A shorter text cut by its zero is no signature either.
    EXPECT_EQ(TC::GetSignature(StreamOf(QByteArray("UA1_SIG\0\0", 9) + QByteArray(8, '\0'))), SIGNATURE_NO);

    auto Stream = StreamOf(Header("UA1_SIGN", 0));
    Stream->SetPosition(5);
    TC::GetSignature(Stream);
    EXPECT_EQ(Stream->GetPosition(), 0);
}

TEST(TransportContainer, RemovalIgnoresTheLengthFieldAndChecksSizeFirst)
{
    EXPECT_EQ(Bytes(TC::SignHeaderDel(StreamOf(Header("UA1_SIGN", 0)))), "");
    EXPECT_EQ(Bytes(TC::SignHeaderDel(StreamOf(Header("UA1_SIGN", 999) + "abc"))), "abc");
    EXPECT_EQ(Bytes(TC::CryptHeaderDel(StreamOf(Header("UA1_CRYPT", 1) + "xyz"))), "xyz");
    EXPECT_EQ(Bytes(TC::StampHeaderDel(StreamOf(QByteArray("USC_STAMP", 10) + QByteArray(36, '?') + "in"))), "in");

    struct Case {
        QByteArray Data;
        std::function<IStreamPtr(IStreamPtr)> Del;
        const char* Message;
    };
    uint8_t Type = 0;
    const std::vector<Case> Cases{
        {QByteArray(12, 'a'), TC::SignHeaderDel, "Помилка виявлення заголовку підписаних даних. Буфер замалий."},
        {QByteArray(13, 'a'), TC::SignHeaderDel, "Помилка виявлення сигнатури підписаних даних."},
        {QByteArray(13, 'a'), TC::CryptHeaderDel, "Помилка виявлення заголовку зашифрованих даних. Буфер замалий."},
        {QByteArray(14, 'a'), TC::CryptHeaderDel, "Помилка виявлення сигнатури зашифрованих даних."},
        {QByteArray("USC_STAMP", 10), TC::StampHeaderDel,
         "Помилка виявлення заголовку даних з позначкою часу. Буфер замалий."},
        {QByteArray(46, 'a'), TC::StampHeaderDel, "Помилка виявлення сигнатури даних з позначкою часу."},
        {QByteArray(17, 'a'), TC::TransportableHeaderDel, "Помилка виявлення транспортного заголовку. Буфер замалий."},
        {QByteArray(18, 'a'), TC::TransportableHeaderDel, "Помилка виявлення сигнатури транспортного заголовку."},
        {Header("TRANSPORTABLE", 3) + "ab", TC::TransportableHeaderDel,
         "Помилка виявлення транспортного заголовку. Буфер замалий."},
        {Header("TRANSPORTABLE", 0xFFFFFFFF), TC::TransportableHeaderDel,
         "Помилка виявлення транспортного заголовку. Буфер замалий."},
        {QByteArray(18, 'a'), [&](IStreamPtr S) { return TC::ProtectedHeaderDel(S, Type); },
         "Помилка виявлення заголовку захищених даних. Буфер замалий."},
        {Header("UA1_SIGN", 0) + "xxxxxx", [&](IStreamPtr S) { return TC::ProtectedHeaderDel(S, Type); },
         "Помилка виявлення сигнатури захищених даних."},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(ErrorOf([&] { C.Del(StreamOf(C.Data)); }), QString::fromUtf8(C.Message)) << C.Message;
}

TEST(TransportContainer, ProtectedLayerCarriesEverySignType)
{
    auto Inner = StreamOf(QByteArray("\x00\xffinner", 7));
    for (int Value = 0; Value <= 255; ++Value) {
        uint8_t Back = 0;
        auto Out = TC::ProtectedHeaderDel(TC::ProtectedHeaderAdd(Inner, static_cast<uint8_t>(Value)), Back);
        ASSERT_EQ(Back, Value);
        ASSERT_EQ(Bytes(Out), Bytes(Inner));
    }
}

using Transportable = test::FreshRoot;

TEST_F(Transportable, HeaderTextIsExactWindows1251WithItsLength)
{
    SetFakeClock(QDateTime(QDate(2013, 3, 5), QTime(21, 4, 9)));
    auto Out = TC::TransportableHeaderAdd(StreamOf("DATA"), QStringLiteral("ТОВ \"Ромашка\""), "12345678", "report.xml",
                                          "vey@example.org", "Kelvora", "1.0");
    const QByteArray Text = ToAnsi(QStringLiteral("CERTYPE=UA1\r\nRCV_NAME=ТОВ \"Ромашка\"\r\nEDRPOU=12345678\r\n"
                                                  "FILENAME=report.xml\r\nRCV_EMAIL=vey@example.org\r\n"
                                                  "PRG_TYPE=Kelvora\r\nPRG_VER=1.0\r\nSND_DATE=20130305210409\r\n"));
    EXPECT_EQ(Bytes(Out), Header("TRANSPORTABLE", static_cast<quint32>(Text.size())) + Text + "DATA");
    EXPECT_EQ(Bytes(TC::TransportableHeaderDel(Out)), "DATA");

    QStringList Values{"untouched"};
    ASSERT_TRUE(TC::TransportableHeaderGet(Out, Values));
    ASSERT_EQ(Values.size(), 8);
    EXPECT_EQ(Values[1], QStringLiteral("RCV_NAME=ТОВ \"Ромашка\""));
    EXPECT_EQ(Values[7], "SND_DATE=20130305210409");

    Values = {"untouched"};
    EXPECT_FALSE(TC::TransportableHeaderGet(StreamOf(Header("UA1_SIGN", 0)), Values));
    EXPECT_EQ(Values, QStringList{"untouched"});
}

TEST(TransportContainer, TransportTextLinesSplitAtAnyBreak)
{
    const QByteArray Text = "A=1\rB=2\nC=3\r\n\r\nD=4";
    QStringList Values;
    ASSERT_TRUE(TC::TransportableHeaderGet(StreamOf(Header("TRANSPORTABLE", Text.size()) + Text + "tail"), Values));
    EXPECT_EQ(Values, QStringList({"A=1", "B=2", "C=3", "", "D=4"}));
    EXPECT_THROW(TC::TransportableHeaderGet(StreamOf(Header("TRANSPORTABLE", 50) + "short"), Values), Exception);
}

TEST(TransportContainer, DeleteSignatureStripsUpToAProtectedLayer)
{
    auto X = StreamOf("<xml/>");
    auto Wrapped = TC::TransportableHeaderAdd(TC::CryptHeaderAdd(X), "c", "1", "f", "e", "t", "v");
    EXPECT_EQ(Bytes(TC::DeleteSignature(Wrapped)), "<xml/>");

    auto Deep = TC::SignHeaderAdd(TC::CryptHeaderAdd(TC::SignHeaderAdd(TC::SignHeaderAdd(X))));
    auto Stamped = StreamOf(QByteArray("USC_STAMP", 10) + QByteArray(36, '\0') + Bytes(Deep));
    auto Stripped = TC::DeleteSignature(Stamped);
    EXPECT_EQ(Bytes(Stripped), "<xml/>");
    EXPECT_EQ(Stripped->GetPosition(), 0);

    auto Protected = TC::ProtectedHeaderAdd(TC::SignHeaderAdd(X), 1);
    EXPECT_EQ(Bytes(TC::DeleteSignature(Protected)), Bytes(Protected));

    // A failure inside leaves the caller's stream as it was.
    auto Broken = TC::SignHeaderAdd(StreamOf(Header("TRANSPORTABLE", 1000) + "x"));
    const QByteArray Before = Bytes(Broken);
    EXPECT_EQ(ErrorOf([&] { TC::DeleteSignature(Broken); }),
              QStringLiteral("Помилка виявлення транспортного заголовку. Буфер замалий."));
    EXPECT_EQ(Bytes(Broken), Before);
}
