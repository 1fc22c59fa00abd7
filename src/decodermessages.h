#ifndef DECODERMESSAGES_H
#define DECODERMESSAGES_H

#include <QString>
#include <QtGlobal>

#include <thread>

// Collects the messages that image libraries print through Qt's message log while one picture is
// read, so that a damaged file gives one line instead of thousands. Installed for the lifetime of
// the object; messages from other threads and fatal messages go on to the handler that was there.
class DecoderMessages
{
public:
    DecoderMessages();
    ~DecoderMessages();
    DecoderMessages(const DecoderMessages &) = delete;
    DecoderMessages &operator=(const DecoderMessages &) = delete;

    // Number of messages collected so far.
    int count() const { return collected; }
    // The first message collected, or an empty string.
    QString first() const { return firstMessage; }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMessageHandler previous;
    DecoderMessages *outer;
    std::thread::id thread;
    int collected = 0;
    QString firstMessage;
};

#endif
