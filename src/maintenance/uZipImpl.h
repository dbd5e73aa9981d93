#pragma once

// An in-memory model of a ZIP archive over libzip: every entry is read whole
// into an item, and an archive is written whole from its items.

#include "uException.h"
#include "uInterfaces.h"

#include <QByteArray>
#include <QFileDevice>
#include <QHash>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;
struct zip;

namespace kelvora {

// A ZIP file could not be read or written; the message is libzip's.
class EZipError : public Exception {
public:
    using Exception::Exception;
};

class TArchiveItem : public IArchiveItem {
public:
    explicit TArchiveItem(const QString& Name = QString());

    void SetName(const QString& Name) override;
    QString GetName() override;
    void SaveToStream(const IStreamPtr& Stream) override;
    void LoadFromStream(const IStreamPtr& Stream) override;
    void SaveToFile(const QString& FileName) override;
    void LoadFromFile(const QString& FileName) override;

    // The content itself (shared, not copied).
    QByteArray Content() const;
    void SetContent(const QByteArray& Content);

private:
    QString FName;
    IStreamPtr FStream;
};

class TZipArchive : public IZipArchive {
public:
    TZipArchive();

    void LoadFromFile(const QString& FileName) override;
    void SaveToFile(const QString& FileName) override;
    void AddFile(const QString& FileName) override;
    void AddStream(const QString& Name, const IStreamPtr& Stream) override;
    IArchiveItemPtr FindItem(const QString& Name) override;
    QString GetItemText(const QString& Name) override;
    IEnumeratorPtr GetItems() override;

    // Reads an archive held in memory, as LoadFromFile; Source names it in errors.
    void LoadFromBytes(const QByteArray& Archive, const QString& Source);

private:
    IEnumeratorPtr FItems;
};

// An archive file read entry by entry, never whole: backups may be large,
// and a hostile one may inflate to far more than it declares.
class TZipReader {
public:
    struct TEntry {
        QString Name;
        quint64 Size = 0; // uncompressed, as the archive declares it
        quint64 Index = 0;
        bool HasCrc = false;
        quint32 Crc = 0; // CRC-32 of the content, as the archive declares it
    };

    // Opens the archive read-only; EZipError when it is no readable ZIP file.
    // The errors of this class are in Ukrainian, with the reason.
    explicit TZipReader(const QString& FileName);
    ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // The entries in archive order.
    const std::vector<TEntry>& Entries() const { return FEntries; }
    // The first entry of that name, letter case ignored; null when none.
    const TEntry* Find(const QString& Name) const;
    // The whole content of a small entry; EZipError when the entry is
    // damaged or holds more than Limit bytes.
    QByteArray Read(const TEntry& Entry, qint64 Limit);
    // Writes the entry's content to Target piece by piece; EZipError when the
    // entry is damaged or holds more than it declares, EInOutError when
    // Target cannot take it.
    void Extract(const TEntry& Entry, QIODevice& Target);

private:
    QString FFileName;
    zip* FZip = nullptr;
    std::vector<TEntry> FEntries;
    QHash<QString, int> FByName; // case-folded name -> first entry of that name
};

// An archive file written entry by entry. Entries added by file name are read
// only while the archive is written (Close), one at a time, so memory does
// not grow with the archive nor with its largest file. Each entry is
// deflated at the normal level and stored instead when deflate does not make
// it smaller, as TZipArchive does.
class TZipWriter {
public:
    // The archive is written beside FileName and renamed over it by Close.
    explicit TZipWriter(const QString& FileName);
    ~TZipWriter();
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    void AddBytes(const QString& Name, const QByteArray& Content);
    void AddFile(const QString& Name, const QString& Path);
    // Called after each entry is written (to let the user interface breathe).
    void SetAfterEntry(std::function<void()> AfterEntry);
    // Writes the archive; EZipError or EInOutError (naming the file that
    // could not be read) on failure, in which case FileName is untouched.
    void Close();

    // Entries larger than this are deflated while they stream, in two passes
    // (one to learn whether deflate makes them smaller); smaller ones are
    // held in memory for one pass.
    static constexpr qint64 kWholeEntryLimit = 8 * 1024 * 1024;

private:
    void Add(const QString& Name, const QString& Path, const QByteArray& Content);

    QString FFileName;
    zip* FZip = nullptr;
    std::shared_ptr<QString> FFailure; // the first failure of an entry's source
    std::function<void()> FAfterEntry;
};

// Sets an archive's permissions; none means its owner's only (read and write).
void SetArchivePermissions(const QString& FileName, QFileDevice::Permissions Permissions);

// The name an entry is stored under: "\" turned into "/", a drive letter and
// empty, "." and ".." parts dropped.
QString ZipEntryName(const QString& Name);

// The reason of a libzip failure (ZIP_ER_*, with the system's errno where
// libzip gives one) in Ukrainian, for the user.
QString ZipFailureText(int ZipCode, int SystemCode);
// An errno value in Ukrainian.
QString SystemErrorText(int Code);

// Text of an entry or a text file: by its byte-order mark (UTF-8, UTF-16) or
// else windows-1251; lines joined and ended with CR LF.
QString DecodeTextLines(const QByteArray& Bytes);

} // namespace kelvora
