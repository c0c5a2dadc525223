#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

// A big message is downloaded to a file rather than memory, and parsed and copied from there.
// The file is the session's own and never has a name of its own: made unnamed (O_TMPFILE) in
// the folder given, or, where the file system cannot, made under a hidden name and unlinked at
// once. Nothing of it is left behind however the program ends, and the disk space goes back
// when the last holder lets it go.
namespace hm::mail {

class SpoolFile {
public:
    // Nullptr when no file can be made there (errno tells why).
    static std::shared_ptr<SpoolFile> create(const QString& folder);
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // Appends bytes; they reach the file in large writes. False once a write failed (error()).
    bool append(QByteArrayView bytes);
    // Writes what append holds back; false when a write failed.
    bool finish();
    // The errno of the write that failed, 0 while none has.
    int error() const { return error_; }
    qint64 size() const { return size_; }
    int fd() const { return fd_; }

    // n bytes from offset (fewer at the end of the file).
    QByteArray read(qint64 offset, qint64 n) const;
    // Gives the content the new name path: the file itself where it can be linked there,
    // otherwise a copy; never replaces what is at path, flushed to disk with its folder entry.
    bool saveAs(const QString& path) const;

private:
    SpoolFile(int fd, bool linkable) : fd_(fd), linkable_(linkable) {}
    bool flushHeld();

    int fd_;
    bool linkable_;
    QByteArray held_;
    qint64 size_ = 0;
    int error_ = 0;
};

} // namespace hm::mail
