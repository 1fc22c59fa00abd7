#ifndef INTERRUPTS_H
#define INTERRUPTS_H

// How the converter meets signals that would otherwise end it half way through a file.
namespace Interrupts {

// Ignores SIGXFSZ, so that a write past the file size limit (ulimit -f) fails with EFBIG and is
// reported as a failed save instead of killing the converter. Records SIGINT and SIGTERM instead
// of dying, so that the picture in hand is finished, its temporary files gone, before the converter
// stops. Call once, before the first picture.
void install();

// The first of SIGINT or SIGTERM received since install(), or 0.
int received();

} // namespace Interrupts

#endif
