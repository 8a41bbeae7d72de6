#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

// Reads what a preview shows off the GUI thread: a picture decoded straight
// at the size it is shown (the file is never decoded at full size first),
// or the start of a text file. Files are opened by their paths' bytes, so
// a name that is not UTF-8 previews like any other. The answer comes back on the GUI thread,
// and only while its ticket is live: a card that went away or asked again
// drops the work, and work not started yet is skipped.
class KZPreviewLoader {
public:
    struct Request {
        std::filesystem::path path;
        // The picture is scaled to fit this box (pixels), keeping its shape,
        // and never enlarged.
        QSize box;
        bool decodeImage = true;
        bool readText = false;
        // At most this many bytes of a text file; 0 reads the panel's share.
        qint64 textLimit = 0;
    };
    struct Result {
        QImage image;
        // The picture's own size in pixels; invalid when not a picture.
        QSize pixelSize;
        QString text;
        bool isText = false;
    };

    // Cancelled by its owner (on the GUI thread) when the answer is no longer
    // wanted.
    class Ticket {
    public:
        void cancel() { cancelled_.store(true); }
        bool isCancelled() const { return cancelled_.load(); }

    private:
        std::atomic<bool> cancelled_{false};
    };
    using TicketRef = std::shared_ptr<Ticket>;

    // `done` runs on the GUI thread unless the ticket was cancelled first.
    static TicketRef load(Request request, std::function<void(const Result&)> done);
    // Runs the reading on the calling thread (tests, the bench).
    static Result read(const Request& request);
    // Pictures decoded so far (tests and the bench count them).
    static int decodedCount();
    // Waits until every queued read has run (tests).
    static void waitForDone();
};
