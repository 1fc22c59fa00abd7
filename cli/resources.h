#ifndef RESOURCES_H
#define RESOURCES_H

#include <QtGlobal>

// What the system lets a batch use: the limits it runs under (address space, memory of its control
// group, open files) decide how many pictures it converts at once, so that a batch with many threads
// does not fail where one with a single thread succeeds.
namespace Resources {

// What one picture and one thread cost, as measured on a two-frame conversion (the largest).
constexpr qint64 kAddressPerPicture = qint64(96) << 20;
constexpr qint64 kAddressPerThread = qint64(16) << 20; // its stack, at most 8 MiB, and its work
constexpr qint64 kMemoryPerPicture = qint64(320) << 20; // the picture and its decoder, resident
constexpr int kFilesPerPicture = 5; // the input, the decoder's socket (two while it starts), an output

struct Share
{
    int pictures = 1; // pictures converted at once
    int threads = 1;  // threads for each picture
};

// Whatever is left, in the units of each limit; negative: not limited.
struct Room
{
    qint64 addressBytes = -1;
    qint64 memoryBytes = -1;
    qint64 files = -1;
};

// The room the limits of the running process leave now.
Room available();

// How pictures (at least 1) share threads (at least 1) within room: as many pictures at once as
// threads and room allow, at least one, and the threads left over shared among them.
Share share(int pictures, int threads, const Room &room);

} // namespace Resources

#endif
