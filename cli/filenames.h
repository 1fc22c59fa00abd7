#ifndef FILENAMES_H
#define FILENAMES_H

// File names that are not valid in the system's encoding, such as a Latin-1 name under a UTF-8
// locale. Qt decodes them with replacement characters and can then neither open nor name them.
namespace FileNames {

// When the locale's encoding is UTF-8, replaces the locale codec by one that decodes valid UTF-8
// as usual and every other byte b as the lone surrogate U+DC00 + b, and encodes such a surrogate
// back to b, so that arguments, file names and messages keep the bytes the system gave. Returns
// whether it could: Qt 6 always decodes names as the locale says (see qtcompat.h).
// Call once, before the first call of QCoreApplication::arguments().
bool keepEveryByte();

} // namespace FileNames

#endif
