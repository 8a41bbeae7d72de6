#include "platform/OpenedFiles.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr char kMagic[] = "MARAVEX-OPEN-1";
constexpr char kAck = 'K';
// A later start that connects and never finishes must not hold a
// connection for ever.
constexpr int kServerReadTimeoutMs = 10000;

// Parses one complete message; false while bytes are missing. A message that
// breaks the limits marks `refused`.
bool parseMessage(const QByteArray& bytes, std::vector<fs::path>* paths, bool* refused)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    QByteArray magic;
    quint32 count = 0;
    in >> magic >> count;
    if (in.status() != QDataStream::Ok)
        return false;
    if (magic != kMagic || count > OpenedFiles::kMaxPaths) {
        *refused = true;
        return true;
    }
    std::vector<fs::path> result;
    result.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        in >> length;
        if (in.status() != QDataStream::Ok)
            return false;
        if (length == 0 || length > OpenedFiles::kMaxPathBytes) {
            *refused = true;
            return true;
        }
        std::string raw(length, '\0');
        if (in.readRawData(raw.data(), int(length)) != int(length))
            return false;
        // The sender made every path absolute; anything else, or a byte that
        // no file name can hold, is not a path we open.
        if (raw.front() != '/' || raw.find('\0') != std::string::npos) {
            *refused = true;
            return true;
        }
        result.emplace_back(std::move(raw));
    }
    *paths = std::move(result);
    return true;
}

// A socket's path must fit the address of a local socket.
constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un{}.sun_path) - 1;

// Whether nobody but this user (and root) can replace an entry of `parent`:
// it belongs to one of them and others may not write to it, or its sticky
// bit keeps others' hands off entries they do not own (/tmp).
bool entriesStayPut(const fs::path& parent, QString* why)
{
    struct stat st {};
    if (::stat(parent.c_str(), &st) != 0) {
        *why = pathText(parent) + QStringLiteral(": ") + systemErrorString(errno);
        return false;
    }
    const bool ownedSafely = st.st_uid == ::getuid() || st.st_uid == 0;
    if (ownedSafely && ((st.st_mode & 022) == 0 || (st.st_mode & S_ISVTX) != 0))
        return true;
    *why = pathText(parent) + QStringLiteral(" lets other users replace what it holds");
    return false;
}

// Makes `folder` (its parent must exist) when it is missing, and answers
// whether it is a real folder of this user that nobody else may enter; a
// link, another owner or a mode that lets others in is refused, never fixed.
bool isPrivateFolder(const fs::path& folder, QString* why)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = pathText(folder) + QStringLiteral(": ") + systemErrorString(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        *why = pathText(folder) + QStringLiteral(": ") + systemErrorString(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = pathText(folder) + QStringLiteral(" is not a folder");
        return false;
    }
    if (st.st_uid != ::getuid()) {
        *why = pathText(folder) + QStringLiteral(" belongs to another user");
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *why = pathText(folder) + QStringLiteral(" may be entered by other users (mode %1, 700 expected)")
                                      .arg(st.st_mode & 07777, 3, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

} // namespace

std::vector<fs::path> OpenedFiles::defaultSocketFiles()
{
    const std::string own = "maravex-" + std::to_string(::getuid());
    std::vector<fs::path> files;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        files.push_back(fs::path(runtime) / "maravex.socket");
        // A runtime folder that others may enter still holds a private one.
        files.push_back(fs::path(runtime) / "maravex" / "maravex.socket");
    }
    std::error_code ec;
    fs::path temporary = fs::temp_directory_path(ec);
    if (ec || temporary.empty())
        temporary = "/tmp";
    files.push_back(temporary / own / "maravex.socket");
    // Another user can make "maravex-<uid>" in the temporary folder before us;
    // nobody else can make anything in the user's own cache folder.
    fs::path cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
        cache = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        cache = fs::path(home) / ".cache";
    if (!cache.empty())
        files.push_back(cache / own / "maravex.socket");
    return files;
}

std::vector<fs::path> OpenedFiles::argumentPaths(int argc, char** argv)
{
    std::vector<fs::path> paths;
    for (int i = 1; i < argc; ++i) {
        const fs::path absolute = platform::absolutePath(argv[i]);
        paths.push_back(absolute.empty() ? fs::path(argv[i]) : absolute);
    }
    return paths;
}

OpenedFiles::OpenedFiles(std::vector<fs::path> socketFiles, QObject* parent)
    : QObject(parent), candidates_(std::move(socketFiles))
{
}

OpenedFiles::OpenedFiles(fs::path socketFile, QObject* parent)
    : OpenedFiles(std::vector<fs::path>{std::move(socketFile)}, parent)
{
}

OpenedFiles::~OpenedFiles()
{
    if (server_)
        server_->close();
}

void OpenedFiles::setHandler(Handler handler)
{
    handler_ = std::move(handler);
    // What came before there was anyone to take it was confirmed all the
    // same: it is handed on now, in the order it came.
    if (!handler_)
        return;
    for (const std::vector<fs::path>& paths : std::exchange(early_, {}))
        handler_(paths);
}

OpenedFiles::Role OpenedFiles::start(const std::vector<fs::path>& paths, int timeoutMs)
{
    // The first private place; every start of this user's walks the same
    // list and stops at the same one.
    socketFile_.clear();
    QStringList passedOver;
    for (const fs::path& candidate : candidates_) {
        QString why;
        const fs::path folder = candidate.parent_path();
        if (candidate.native().size() > kMaxSocketPath)
            why = pathText(candidate) + QStringLiteral(" is too long for a local socket");
        else if (!folder.has_parent_path() || folder == folder.root_path())
            why = pathText(candidate) + QStringLiteral(" has no folder of its own");
        else if (entriesStayPut(folder.parent_path(), &why) && isPrivateFolder(folder, &why))
            socketFile_ = candidate;
        if (!socketFile_.empty())
            break;
        passedOver.append(why);
        logLine(QStringLiteral("Not using ") + pathText(folder) + QStringLiteral(" for the program's socket: ") + why);
    }
    if (socketFile_.empty()) {
        aloneReason_ = passedOver.join(QLatin1Char('\n'));
        logLine(QStringLiteral("Not handing over to a running Maravex, nor listening for later starts"));
        return Role::Alone;
    }
    const auto unanswered = [] {
        logLine(QStringLiteral("A running Maravex accepted the paths but did not confirm in time"));
        return Role::Unanswered;
    };
    switch (handOver(paths, timeoutMs)) {
    case HandOver::Taken:
        return Role::HandedOver;
    case HandOver::NoAnswer:
        return unanswered();
    case HandOver::NobodyListens:
        break;
    }

    // Two starts at the same moment must not both decide to be the first. A
    // start holds the lock at most for one hand-over (connecting, writing and
    // waiting for the answer); one that holds it longer is stuck, and running
    // beside whatever it talks to would make two programs.
    QLockFile lock(platform::pathText(socketFile_) + QStringLiteral(".lock"));
    if (!lock.tryLock(3 * timeoutMs + 1000)) {
        logLine(QStringLiteral("Another start of Maravex holds the program's lock"));
        return Role::Unanswered;
    }
    switch (handOver(paths, timeoutMs)) {
    case HandOver::Taken:
        return Role::HandedOver; // a start that held the lock became the program
    case HandOver::NoAnswer:
        return unanswered();
    case HandOver::NobodyListens:
        break;
    }

    // Nobody accepts: whatever sits at the socket's place was left by a
    // program that is gone.
    QLocalServer::removeServer(platform::pathText(socketFile_));
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(platform::pathText(socketFile_))) {
        aloneReason_ = server_->errorString();
        logLine(QStringLiteral("Cannot listen for later starts: ") + server_->errorString());
        delete server_;
        server_ = nullptr;
        return Role::Alone;
    }
    connect(server_, &QLocalServer::newConnection, this, &OpenedFiles::acceptConnection);
    return Role::Primary;
}

OpenedFiles::HandOver OpenedFiles::handOver(const std::vector<fs::path>& paths, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(platform::pathText(socketFile_));
    if (!socket.waitForConnected(timeoutMs)) {
        // No socket, one that nobody listens on, or one this user may not
        // use (left by another user's start) is all that proves the program
        // gone. Anything else, a full queue of connections above all (which
        // Qt reports as an unknown error once the wait is over), means a
        // program that is there but busy.
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
        case QLocalSocket::SocketAccessError:
            return HandOver::NobodyListens;
        default:
            return HandOver::NoAnswer;
        }
    }

    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << QByteArray(kMagic) << quint32(paths.size());
        for (const fs::path& path : paths) {
            fs::path absolute = platform::absolutePath(path);
            if (absolute.empty())
                absolute = path;
            const std::string& raw = absolute.native();
            out << quint32(raw.size());
            out.writeRawData(raw.data(), int(raw.size()));
        }
    }
    // From here on the connection was accepted by a living program, whatever
    // happens next: the bytes written wait in its socket until it reads them.
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return HandOver::NoAnswer;
    // The answer says the running program has the paths, so that this start
    // can exit without losing them.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return HandOver::NoAnswer;
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck ? HandOver::Taken : HandOver::NoAnswer;
}

void OpenedFiles::acceptConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        QPointer<QLocalSocket> guard(socket);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kServerReadTimeoutMs, socket, [guard] {
            if (guard)
                guard->abort();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            std::vector<fs::path> paths;
            bool refused = false;
            if (buffer->size() > kMaxMessageBytes) {
                refused = true;
            } else if (!parseMessage(*buffer, &paths, &refused)) {
                return; // more bytes to come
            }
            if (refused) {
                logLine(QStringLiteral("Refused a malformed request from a later start"));
                socket->abort();
                return;
            }
            socket->putChar(kAck);
            socket->flush();
            socket->disconnectFromServer();
            if (handler_)
                handler_(paths);
            else
                early_.push_back(std::move(paths));
        });
    }
}

} // namespace platform
