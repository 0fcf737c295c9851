// Until the main window lands, the program is a small command-line front end
// on the engine: it probes the files it is given and can convert them.
#include "app/ResourceText.h"
#include "convert/EncodeJob.h"
#include "convert/EncodingOptions.h"
#include "convert/OutputNaming.h"
#include "media/SourceItem.h"
#include "platform/Platform.h"
#include "view/ConversionSettings.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace plexavo;

namespace {

void usage() {
    std::printf("Plexavo: converts audio and video files for iPod, iPhone and iPad.\n\n"
                "usage: plexavo [--convert] [--h264] [--size N] [--out FOLDER] FILE...\n"
                "  FILE...       probe each file and show its duration, bit rate and streams\n"
                "  --convert     convert the files too, into FOLDER (default %s)\n"
                "  --h264        H.264 instead of MPEG-4\n"
                "  --size N      frame size row N of the size list (0 keeps the source size):\n",
                defaultOutputPath().c_str());
    const auto sizes = sizeListTexts();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        std::printf("                  %2zu  %s\n", i, sizes[i].c_str());
}

} // namespace

int main(int argc, char** argv) {
    ConversionSettings settings;
    bool convert = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--convert")
            convert = true;
        else if (arg == "--h264")
            settings.targetFormat = kTargetH264;
        else if (arg == "--size" && i + 1 < argc) {
            settings.sizeChoice = std::atoi(argv[++i]);
            settings.applySizeChoice();
        } else if (arg == "--out" && i + 1 < argc)
            settings.outputPath = platform::absolutePath(argv[++i]);
        else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (arg == "--")
            continue;
        else
            files.push_back(platform::absolutePath(arg));
    }
    if (files.empty()) {
        usage();
        return 0;
    }

    int failures = 0;
    std::vector<CSourceItem> items;
    for (const auto& file : files) {
        CSourceItem item;
        if (item.probe(file) < 0) {
            std::printf("%s\n  %s\n", LoadResString(61205).c_str(), file.c_str());
            ++failures;
            continue;
        }
        item.assignOutputName(settings.outputPath, TargetExtensions[settings.targetFormat], "cvt");
        std::printf("%s\n  Duration: %s\n  Bit rate: %s\n  Video:%s\n  Audio:%s\n  Output: %s\n",
                    item.displayName().c_str(), item.durationText.c_str(), item.bitrateText.c_str(),
                    item.videoDescription.c_str(), item.audioDescription.c_str(),
                    item.outputFileName().c_str());
        items.push_back(item);
    }
    if (!convert)
        return failures ? 1 : 0;

    const std::string options = buildOptionText(settings);
    ensureFolder(settings.outputPath);
    CEncodeJob job;
    for (auto& item : items) {
        item.assignOutputName(settings.outputPath, TargetExtensions[settings.targetFormat], "cvt");
        std::printf("Converting %s -> %s\n", item.displayName().c_str(),
                    item.outputFilePath().c_str());
        if (job.run(item.path, item.outputFilePath(), item.title, options, item.startSeconds,
                    item.endSeconds) < 0) {
            std::printf("  failed: %s\n", job.errorText().c_str());
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
