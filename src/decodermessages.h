#ifndef DECODERMESSAGES_H
#define DECODERMESSAGES_H

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <mutex>
#include <thread>

// Collects the messages that image libraries print while one picture is read, so that a damaged
// file gives one line instead of thousands: those sent through Qt's message log and those a
// library writes straight to the standard error stream (libpng's errors), which is diverted into a
// temporary file meanwhile. Collects from construction to finish(); messages from other threads and fatal messages
// go on to the handler that was there. One picture is read at a time while collecting: an instance on
// another thread waits until this one has finished.
class DecoderMessages
{
public:
    DecoderMessages();
    ~DecoderMessages();
    DecoderMessages(const DecoderMessages &) = delete;
    DecoderMessages &operator=(const DecoderMessages &) = delete;

    // Stops collecting: puts back the message handler and the standard error stream. Call before
    // printing anything; the destructor calls it too.
    void finish();

    // Keeps the standard error stream from being diverted while held: a thread that prints while
    // another may be reading a picture holds it across each write.
    static std::unique_lock<std::recursive_mutex> holdStandardError();

    // Number of messages (or lines written to the standard error stream) collected so far.
    int count() const { return collected; }
    // The first message collected, or an empty string.
    QString first() const { return firstMessage; }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void add(const QString &message);

    std::unique_lock<std::recursive_mutex> hold; // first: taken before anything is diverted
    QtMessageHandler previous;
    DecoderMessages *outer;
    std::thread::id thread;
    bool collecting = true;
    int collected = 0;
    QString firstMessage;
    // The standard error stream while it is diverted into capture; -1 when it is not.
    int savedStandardError = -1;
    std::FILE *capture = nullptr;
};

#endif
