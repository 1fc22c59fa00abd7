#ifndef INTERRUPTS_H
#define INTERRUPTS_H

// How the converter meets signals that would otherwise end it half way through a file.
namespace Interrupts {

// Ignores SIGXFSZ, so that a write past the file size limit (ulimit -f) fails with EFBIG and is
// reported as a failed save instead of killing the converter. Records SIGINT, SIGTERM, SIGHUP (the
// terminal was closed), SIGQUIT and SIGPIPE (a reader of its output went away) instead of dying, so
// that the picture in hand is finished, its temporary files gone, before the converter stops. The
// handlers only record: a system call they interrupt is not restarted but fails, and the code that
// made it looks at received(). Call once, before the first picture.
void install();

// The first of those signals received since install(), or 0.
int received();

// The name of such a signal ("SIGINT"), for messages.
const char *name(int signal);

} // namespace Interrupts

#endif
