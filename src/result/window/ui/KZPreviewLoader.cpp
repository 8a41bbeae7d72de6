#include "result/window/ui/KZPreviewLoader.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The text panel shows the start of a file; a large log is not read whole.
constexpr qint64 kTextLimit = 256 * 1024;

std::atomic<int> decoded{0};

QThreadPool& pool()
{
    // Two readers: enough to keep a screenful coming, few enough that a
    // burst of cards never starves the rest of the program.
    static QThreadPool* readers = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(2);
        made->setExpiryTimeout(5000);
        // A read still running when the program ends would use the type
        // and image tables while they are being torn down: the readers are
        // let finish while the application object still exists.
        qAddPostRoutine([] {
            pool().clear();
            pool().waitForDone();
        });
        return made;
    }();
    return *readers;
}

// The file behind a path, opened by the path's own bytes: a name that is
// not UTF-8 has no text that leads back to it. Only a regular file is read:
// a pipe or a device that took a found item's name would hold the reader
// for ever.
std::unique_ptr<QFile> openRegularFile(const std::filesystem::path& path)
{
    if (path.empty())
        return nullptr;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

} // namespace

KZPreviewLoader::Result KZPreviewLoader::read(const Request& request)
{
    Result result;
    const std::unique_ptr<QFile> file = openRegularFile(request.path);
    if (!file)
        return result;
    // The name only helps to tell the kind; the bytes are read from `file`.
    const QString name = platform::pathText(request.path.filename());
    if (request.decodeImage) {
        QImageReader reader(file.get(), platform::pathText(request.path.extension().native()).mid(1).toLower().toLatin1());
        reader.setAutoTransform(true);
        QSize size = reader.size();
        if (size.isValid() && !size.isEmpty()) {
            // The shown picture stands upright as the file says.
            if (reader.transformation() & QImageIOHandler::TransformationRotate90)
                size.transpose();
            result.pixelSize = size;
            if (request.box.isValid() && !request.box.isEmpty() &&
                (size.width() > request.box.width() || size.height() > request.box.height())) {
                QSize scaled = size.scaled(request.box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
                // The reader scales before it turns the picture.
                if (reader.transformation() & QImageIOHandler::TransformationRotate90)
                    scaled.transpose();
                reader.setScaledSize(scaled);
            }
            result.image = reader.read();
            decoded.fetch_add(1);
            if (result.image.isNull())
                result.pixelSize = QSize();
        }
    }
    if (request.readText && result.image.isNull() && file->seek(0)) {
        static const QMimeDatabase types;
        const bool text = types.mimeTypeForFileNameAndData(name, file.get()).inherits(QStringLiteral("text/plain"));
        if (text && file->seek(0)) {
            const QByteArray bytes = file->read(request.textLimit > 0 ? request.textLimit : kTextLimit);
            QStringDecoder utf8(QStringDecoder::Utf8);
            result.text = utf8.decode(bytes);
            if (utf8.hasError())
                result.text = QString::fromLatin1(bytes);
            result.isText = true;
        }
    }
    return result;
}

KZPreviewLoader::TicketRef KZPreviewLoader::load(Request request, std::function<void(const Result&)> done)
{
    auto ticket = std::make_shared<Ticket>();
    QCoreApplication* app = QCoreApplication::instance();
    pool().start([ticket, request = std::move(request), done = std::move(done), app] {
        if (ticket->isCancelled())
            return;
        Result result = read(request);
        if (ticket->isCancelled())
            return;
        // The ticket is cancelled on the GUI thread, so checking it there
        // again means the owner still exists when `done` runs.
        QMetaObject::invokeMethod(
            app,
            [ticket, done, result = std::move(result)] {
                if (!ticket->isCancelled())
                    done(result);
            },
            Qt::QueuedConnection);
    });
    return ticket;
}

int KZPreviewLoader::decodedCount()
{
    return decoded.load();
}

void KZPreviewLoader::waitForDone()
{
    pool().waitForDone();
}
