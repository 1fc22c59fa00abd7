#ifndef DECODERPROCESS_H
#define DECODERPROCESS_H

#include "decoderprotocol.h"

#include <QString>
#include <QtGlobal>

// The loader's side of the decoder process: pictures are decoded by rastrel-zo9-decoder, a worker
// program that the kernel limits (memory, processor time), so that no file can take the calling
// program down. Workers are started when needed, kept while they are healthy and used by one
// thread at a time; one that fails is ended and the next picture gets a fresh one.
namespace DecoderProcess {

// Most bytes read from a stream (standard input): 256 MiB.
constexpr qint64 kMaxStreamBytes = qint64(256) << 20;

struct Options
{
    DecoderProtocol::Fit fit = DecoderProtocol::Fit::Stretch;
};

// Decodes the regular file fileName into pixels (kSourcePixels values 0xAARRGGBB, row by row).
// On failure returns false, leaves pixels untouched and sets error to the reason, without the
// file's name: the system's or the decoder's, "The file is empty.", "not a photo format (svg)",
// "needs more than 1 GiB of memory to decode", "took longer than 8 s to decode", "the decoder
// failed on this file", "the decoder stopped responding" (it used no processor time for 10 s while
// the picture was not done), "the decoder was ended by SIGKILL from outside ...", "interrupted".
// Whether a failure came from the system's limits rather than the file: PlainFiles::shortOfResources().
// When the picture decodes but the decoder gave messages, sets warning to one line naming the file
// and the first message (otherwise clears it).
bool decodeFile(const QString &fileName, quint32 *pixels, QString *error, QString *warning,
                const Options &options = Options());

// Decodes what fd (standard input, say) holds until its end, at most kMaxStreamBytes; name stands
// for it in messages. Results as for decodeFile.
bool decodeStream(int fd, const QString &name, quint32 *pixels, QString *error, QString *warning,
                  const Options &options = Options());

// Sets the function that is asked, about every 50 ms while a picture is read or decoded, whether
// to stop: once it returns true the worker is ended at once and the picture fails with
// "interrupted". Null: never stop. Call before the first picture.
void setStopCheck(bool (*stopRequested)());

// Ends the workers that wait for a picture, so that the next picture starts a fresh one (with the
// environment and worker program as they are then).
void endIdleWorkers();

// The worker program that is started: $RASTREL_DECODER when set (an absolute path; a name that is
// not one is refused, so that no program of that name in the current folder is run); otherwise
// rastrel-zo9-decoder in the folder it is installed in relative to the running program, or, in the
// build tree, in the decoder folder beside the running program's folder. Empty when there is none.
// A program that belongs to another user than root and the user, or that others may change (or a
// folder on its path), is not run.
QString workerPath();

// The warning line for a picture named name that decoded although the decoder gave count messages,
// the first being message; empty when count is 0. A single message known to be harmless (libpng's
// colour-profile notices, "iCCP: known incorrect sRGB profile") is worded as a notice.
QString warningText(const QString &name, const QString &message, int count);
// Whether a warning line of warningText is a notice: nothing is wrong with the picture.
bool isNotice(const QString &warning);

} // namespace DecoderProcess

#endif
