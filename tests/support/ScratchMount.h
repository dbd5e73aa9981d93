#pragma once

// Storage that misbehaves for a test: a small tmpfs that fills up, or a
// read-only bind mount over a file or folder. Mounting needs privileges the
// test may not have; Mounted() tells, and the caller skips with the reason.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <sys/mount.h>

namespace kelvora::test {

class TScratchMount {
public:
    // A tmpfs of Bytes (rounded up to pages) over the folder Path.
    static TScratchMount Tmpfs(const QString& Path, int Bytes)
    {
        const QByteArray Options = "size=" + QByteArray::number(Bytes);
        return TScratchMount(
            Path, ::mount("tmpfs", QFile::encodeName(Path).constData(), "tmpfs", 0, Options.constData()) == 0);
    }
    // Path (a file or folder) seen read-only through a bind mount over itself.
    static TScratchMount ReadOnly(const QString& Path)
    {
        const QByteArray Name = QFile::encodeName(Path);
        if (::mount(Name.constData(), Name.constData(), nullptr, MS_BIND, nullptr) != 0)
            return TScratchMount(Path, false);
        TScratchMount Mount(Path, true);
        if (::mount(nullptr, Name.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            Mount.Unmount();
        return Mount;
    }
    TScratchMount(TScratchMount&& Other) noexcept : FPath(Other.FPath), FMounted(Other.FMounted)
    {
        Other.FMounted = false;
    }
    ~TScratchMount() { Unmount(); }

    bool Mounted() const { return FMounted; }
    void Unmount()
    {
        if (FMounted)
            ::umount2(QFile::encodeName(FPath).constData(), MNT_DETACH);
        FMounted = false;
    }
    static const char* SkipReason() { return "mounting is not allowed here (needs CAP_SYS_ADMIN)"; }

private:
    TScratchMount(const QString& Path, bool Mounted) : FPath(Path), FMounted(Mounted) {}
    QString FPath;
    bool FMounted;
};

} // namespace kelvora::test
