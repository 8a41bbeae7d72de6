#include "platform/OpenedFiles.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

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

fs::path OpenedFiles::defaultSocketFile()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return fs::path(runtime) / "maravex.socket";
    std::error_code ec;
    fs::path temporary = fs::temp_directory_path(ec);
    if (ec)
        temporary = "/tmp";
    return temporary / ("maravex-" + std::to_string(::getuid())) / "maravex.socket";
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

OpenedFiles::OpenedFiles(fs::path socketFile, QObject* parent) : QObject(parent), socketFile_(std::move(socketFile)) {}

OpenedFiles::~OpenedFiles()
{
    if (server_)
        server_->close();
}

void OpenedFiles::setHandler(Handler handler)
{
    handler_ = std::move(handler);
}

OpenedFiles::Role OpenedFiles::start(const std::vector<fs::path>& paths, int timeoutMs)
{
    QString why;
    if (!isPrivateFolder(socketFile_.parent_path(), &why)) {
        logLine(QStringLiteral("Not handing over to a running Maravex, nor listening for later starts: ") + why);
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
        });
    }
}

} // namespace platform
