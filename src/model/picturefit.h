#ifndef PICTUREFIT_H
#define PICTUREFIT_H

// How a photo of any proportions becomes the 320x240 source picture (square pixels).
enum class PictureFit {
    Stretch, // whatever its proportions
    Crop,    // proportions kept, the frame filled, the overflow cut equally from both sides
    Pad      // proportions kept, the whole photo, black bars
};

// The fits by name ("stretch", "crop", "pad"), in the order of PictureFit: on the command line and
// in the remembered settings.
constexpr const char *kPictureFitNames[] = {"stretch", "crop", "pad"};
constexpr int kPictureFitCount = 3;

#endif
