#include "VerifyCommand.h"

#include "Console.h"
#include "ImageReader.h"
#include "ImageVerifier.h"
#include "ProgressReporter.h"

int VerifyCommand::run(const std::string& imagePath, const std::string& storeOverride)
{
    ImageReader image;
    image.useStore(storeOverride, true);
    std::string error;
    if (!image.open(imagePath, false, error)) {
        Console::error(imagePath + " is not a valid image (" + error + ")");
        return 1;
    }
    ProgressReporter progress;
    progress.start(ImageVerifier::progressUnits(image));
    if (!ImageVerifier::verify(image, progress, error)) {
        progress.stop();
        Console::error(imagePath + ": " + error);
        return 1;
    }
    progress.finish();
    Console::info(imagePath + " verified: " + std::to_string(image.index().chunkCount()) + " chunks intact" +
                  (image.isStoreImage() ? " in the store " + image.storeDirectory() : std::string()));
    return 0;
}
