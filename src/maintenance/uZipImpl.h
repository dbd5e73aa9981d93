#pragma once

// An in-memory model of a ZIP archive over libzip: every entry is read whole
// into an item, and an archive is written whole from its items.

#include "uException.h"
#include "uInterfaces.h"

#include <QByteArray>

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

// The name an entry is stored under: "\" turned into "/", a drive letter and
// empty, "." and ".." parts dropped.
QString ZipEntryName(const QString& Name);

// Text of an entry or a text file: by its byte-order mark (UTF-8, UTF-16) or
// else windows-1251; lines joined and ended with CR LF.
QString DecodeTextLines(const QByteArray& Bytes);

} // namespace kelvora
