#ifndef DECODERMESSAGES_H
#define DECODERMESSAGES_H

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <mutex>

// Collects the messages that image libraries give while one picture is read, so that a damaged
// file gives one line instead of thousands. From construction to finish() it collects what the
// constructing thread sends through Qt's message log; after divertStandardError() also what a
// library writes straight to the standard error stream (libpng's errors), diverted into an
// anonymous file in memory meanwhile. Other threads' messages, and fatal ones, go on to the message handler
// that was installed before (the collecting handler stays installed once a collection has
// started); they are written while the standard error stream is the real one.
class DecoderMessages
{
public:
    DecoderMessages();
    ~DecoderMessages();
    DecoderMessages(const DecoderMessages &) = delete;
    DecoderMessages &operator=(const DecoderMessages &) = delete;

    // Diverts the standard error stream until finish(). One thread diverts at a time: this waits
    // until another thread's diversion has ended.
    void divertStandardError();

    // Stops collecting and puts back the standard error stream. Call before printing anything;
    // the destructor calls it too.
    void finish();

    // Keeps the standard error stream from being diverted while held: a thread that prints while
    // another may be reading a picture holds it across each write.
    static std::unique_lock<std::recursive_mutex> holdStandardError();

    // Number of messages (or lines written to the standard error stream) collected so far.
    int count() const { return collected; }
    // The first message collected, or an empty string.
    QString first() const { return firstMessage; }
    // The last message collected (where a decoder puts the error that ended it), or an empty string.
    QString last() const { return lastMessage; }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void add(const QString &message);

    DecoderMessages *outer; // the collection this one interrupts on the same thread, or null
    bool collecting = true;
    int collected = 0;
    QString firstMessage;
    QString lastMessage;
    std::unique_lock<std::recursive_mutex> hold; // held while the stream is diverted
    // The standard error stream while it is diverted into capture; -1 when it is not.
    int savedStandardError = -1;
    std::FILE *capture = nullptr;
};

#endif
