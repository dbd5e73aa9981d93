#include "uException.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kelvora;

namespace {

QByteArray ReadAll(const IStreamPtr& Stream)
{
    QByteArray Buffer(static_cast<qsizetype>(Stream->GetSize()), '\0');
    Stream->SetPosition(0);
    Buffer.truncate(Stream->Read(Buffer.data(), static_cast<int32_t>(Buffer.size())));
    return Buffer;
}

struct TItem : IInterface {};

} // namespace

TEST(Stream, NewStreamIsEmptyAndReadsNothing)
{
    auto Stream = CreateStream();
    EXPECT_EQ(Stream->GetSize(), 0);
    EXPECT_EQ(Stream->GetPosition(), 0);
    char Byte;
    EXPECT_EQ(Stream->Read(&Byte, 1), 0);
}

TEST(Stream, WriteGrowsReadAdvancesAndStopsAtEnd)
{
    auto Stream = CreateStream();
    EXPECT_EQ(Stream->Write("abcdef", 6), 6);
    Stream->SetPosition(2);
    EXPECT_EQ(Stream->Write("XY", 2), 2);
    EXPECT_EQ(Stream->GetSize(), 6);
    Stream->SetPosition(4);
    char Buffer[8] = {};
    EXPECT_EQ(Stream->Read(Buffer, 8), 2);
    EXPECT_EQ(QByteArray(Buffer, 2), "ef");
    EXPECT_EQ(Stream->GetPosition(), 6);
    EXPECT_EQ(ReadAll(Stream), "abXYef");
    // Writing past the end fills the gap with zeros.
    Stream->SetPosition(8);
    Stream->Write("!", 1);
    EXPECT_EQ(ReadAll(Stream), QByteArray("abXYef\0\0!", 9));
}

TEST(Stream, CopyFromTakesTheWholeSourceWhereverItsPosition)
{
    auto Source = StreamOf("0123456789");
    Source->SetPosition(5);
    auto Target = CreateStream();
    Target->Write("old content that is longer", 26);
    Target->CopyFrom(Source);
    EXPECT_EQ(Target->GetPosition(), 10);
    EXPECT_EQ(Target->GetSize(), 10);
    EXPECT_EQ(Source->GetPosition(), 10);
    EXPECT_EQ(ReadAll(Target), "0123456789");

    auto Empty = CreateStream();
    Target->CopyFrom(Empty);
    EXPECT_EQ(Target->GetSize(), 0);
}

TEST(Stream, CopyFromWithCountTakesFromTheSourcePosition)
{
    auto Source = StreamOf("0123456789");
    Source->SetPosition(3);
    auto Target = CreateStream();
    Target->CopyFrom(Source, 4);
    EXPECT_EQ(ReadAll(Target), "3456");
    EXPECT_EQ(Source->GetPosition(), 7);
}

TEST(Stream, LoadFromPlatformStreamCopiesAllOrCount)
{
    QByteArray Bytes("platform bytes");
    QBuffer Buffer(&Bytes);
    Buffer.open(QIODevice::ReadOnly);
    Buffer.seek(5);
    auto Stream = CreateStreamFromStream(Buffer);
    EXPECT_EQ(ReadAll(Stream), Bytes);
    Buffer.seek(0);
    EXPECT_EQ(Stream->LoadFromStream(Buffer, 8), 8);
    EXPECT_EQ(Stream->GetPosition(), 8);
    EXPECT_EQ(ReadAll(Stream), "platform");
}

TEST(Stream, FilesRoundTripAndMissingFileKeepsContent)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("data.bin");
    auto Stream = StreamOf(QByteArray("\x00\x01\xff binary", 10));
    Stream->SetPosition(3);
    Stream->SaveToFile(Path);
    EXPECT_EQ(Stream->GetPosition(), 3);
    auto Loaded = CreateStreamFromFile(Path);
    EXPECT_EQ(Loaded->GetPosition(), 0);
    EXPECT_EQ(ReadAll(Loaded), QByteArray("\x00\x01\xff binary", 10));

    EXPECT_THROW(Loaded->LoadFromFile(Dir.filePath("missing.bin")), EInOutError);
    EXPECT_EQ(Loaded->GetSize(), 10);
    EXPECT_THROW(CreateStreamFromFile(Dir.filePath("missing.bin")), EInOutError);
    // A folder where the file should be cannot be written.
    EXPECT_THROW(Stream->SaveToFile(Dir.path()), EInOutError);
}

TEST(Enumerator, WalkRemoveExchangeAndClear)
{
    auto List = CreateEnumerator();
    EXPECT_TRUE(List->Eof()) << "a fresh empty list is at its end";
    List->First();
    EXPECT_TRUE(List->Eof());
    EXPECT_EQ(List->Current(), nullptr);

    IInterfacePtr A = std::make_shared<TItem>(), B = std::make_shared<TItem>(), C = std::make_shared<TItem>();
    List->Add(A);
    List->Add(B);
    List->Add(C);
    List->First();
    EXPECT_EQ(List->Current(), A);
    List->Next();
    List->Next();
    EXPECT_EQ(List->Current(), C);
    List->Next();
    EXPECT_TRUE(List->Eof());
    EXPECT_EQ(List->Current(), nullptr);

    List->Add(A);
    List->Remove(A);
    ASSERT_EQ(List->Count(), 3);
    EXPECT_EQ(List->GetItem(0), B);
    EXPECT_EQ(List->GetItem(2), A);
    EXPECT_EQ(List->GetItem(-1), nullptr);
    EXPECT_EQ(List->GetItem(3), nullptr);
    List->Remove(std::make_shared<TItem>()); // absent: nothing happens
    EXPECT_EQ(List->Count(), 3);

    EXPECT_TRUE(List->Exchange(0, 2));
    EXPECT_EQ(List->GetItem(0), A);
    EXPECT_EQ(List->GetItem(2), B);
    EXPECT_FALSE(List->Exchange(0, 3));

    std::weak_ptr<IInterface> Watch = C;
    C.reset();
    List->First();
    List->Next();
    List->Clear();
    EXPECT_EQ(List->Count(), 0);
    EXPECT_TRUE(Watch.expired()) << "clearing drops the references";
    EXPECT_TRUE(List->Eof());
}

TEST(Enumerator, ExchangeOnOneItem)
{
    auto List = CreateEnumerator();
    List->Add(std::make_shared<TItem>());
    EXPECT_TRUE(List->Exchange(0, 0));
    EXPECT_FALSE(List->Exchange(0, 1));
}

TEST(NamedValues, NamesAreCaseInsensitiveAndMissingIsNull)
{
    auto Values = CreateNamedValues();
    Values->SetValue("KVTNUM", Variant(QStringLiteral("17")));
    EXPECT_EQ(Values->GetValue("kvtnum").ToString(), "17");
    EXPECT_TRUE(Values->GetValue("never").IsNull());
    Values->SetValue("KvtNum", Variant(int64_t(5)));
    EXPECT_EQ(Values->GetValue("KVTNUM").ToInt64(), 5);
}

TEST(Variant, Conversions)
{
    EXPECT_TRUE(Variant().IsNull());
    EXPECT_EQ(Variant().ToInt64(), 0);
    EXPECT_EQ(Variant().ToString(), "");
    EXPECT_EQ(Variant(2.5).ToInt64(), 3);
    EXPECT_EQ(Variant(-2.6).ToInt(), -3);
    EXPECT_EQ(Variant(QStringLiteral(" 42 ")).ToInt(), 42);
    EXPECT_THROW(Variant(QStringLiteral("4x")).ToInt(), EConvertError);
    EXPECT_EQ(Variant(int64_t(1) << 40).ToString(), "1099511627776");
    EXPECT_EQ(Variant(int32_t(7)).ToDouble(), 7.0);
    EXPECT_EQ(Variant(QStringLiteral("1.25")).ToDouble(), 1.25);
    EXPECT_EQ(Variant(0.1).ToString(), "0.1");
    EXPECT_EQ(Variant(int32_t(3)).GetKind(), Variant::vkInteger);
}

TEST(Exception, WhatIsUtf8OfTheMessage)
{
    const Exception E(QStringLiteral("Файл не знайдено: x"));
    EXPECT_STREQ(E.what(), "Файл не знайдено: x");
    EXPECT_EQ(E.Message(), QStringLiteral("Файл не знайдено: x"));
}
