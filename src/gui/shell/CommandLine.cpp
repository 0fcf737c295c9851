#include "gui/shell/CommandLine.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/media/SourcePaths.h"
#include "engine/services/ResourceText.h"
#include "engine/settings/ConversionSettings.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace plexavo::cli {

namespace {

bool isFrontEndOption(const char* arg) {
    return std::strcmp(arg, "--probe") == 0 || std::strcmp(arg, "--convert") == 0 ||
           std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int runFrontEnd(const std::vector<std::string>& args) {
    ConversionSettings settings;
    bool convert = false;
    bool optionsEnded = false;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--probe") {
            continue;
        } else if (arg == "--convert") {
            convert = true;
        } else if (arg == "--h264") {
            settings.targetFormat = kTargetH264;
        } else if (arg == "--size" && i + 1 < args.size()) {
            char* end = nullptr;
            const long row = std::strtol(args[++i].c_str(), &end, 10);
            if (!end || *end || row < 0 || row > static_cast<long>(VideoSizes.size())) {
                std::fprintf(stderr, "plexavo: --size takes a row number from 0 to %zu\n",
                             VideoSizes.size());
                return 2;
            }
            settings.sizeChoice = static_cast<int>(row);
            settings.applySizeChoice();
        } else if (arg == "--out" && i + 1 < args.size()) {
            settings.outputPath = absoluteSourcePath(args[++i]);
            if (settings.outputPath.back() != '/')
                settings.outputPath += '/';
        } else if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (std::error_code ec; std::filesystem::exists(arg, ec)) {
            files.push_back(arg); // a file whose name starts with '-'
        } else {
            std::fprintf(stderr, "plexavo: unknown option %s (see plexavo --help)\n", arg.c_str());
            return 2;
        }
    }
    if (files.empty()) {
        printUsage(stderr);
        return 2;
    }

    int failures = 0;
    std::vector<CSourceItem> items;
    for (const auto& file : files) {
        CSourceItem item;
        if (item.probe(absoluteSourcePath(file)) < 0) {
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

    settings.equalizeSize();
    const std::string options = buildOptionText(settings);
    ensureFolder(settings.outputPath);
    CEncodeJob job;
    for (auto& item : items) {
        item.assignOutputName(settings.outputPath, TargetExtensions[settings.targetFormat], "cvt");
        std::printf("Converting %s -> %s\n", item.displayName().c_str(),
                    item.outputFilePath().c_str());
        std::fflush(stdout);
        if (job.run(item.path, item.outputFilePath(), item.title, options, item.startSeconds,
                    item.endSeconds) < 0) {
            std::printf("  failed: %s\n", job.errorText().c_str());
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

} // namespace

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Plexavo: converts audio and video files for iPod, iPhone and iPad.\n\n"
                 "usage: plexavo [FILE|FOLDER]...\n"
                 "         opens the window; the files (and the media files directly inside\n"
                 "         each folder) are added to the source list\n"
                 "       plexavo --probe FILE...\n"
                 "         probes each file and prints its duration, bit rate and streams\n"
                 "       plexavo --convert [--h264] [--size N] [--out FOLDER] FILE...\n"
                 "         probes and converts the files into FOLDER (default %s)\n\n"
                 "  --h264        H.264 instead of MPEG-4\n"
                 "  --size N      frame size row N of the size list (0 keeps the source size):\n",
                 defaultOutputPath().c_str());
    const auto sizes = sizeListTexts();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        std::fprintf(out, "                  %2zu  %s\n", i, sizes[i].c_str());
    std::fprintf(out, "  --            ends the options: every later argument is a file\n"
                      "  --help        shows this text\n");
}

std::optional<int> runIfRequested(int argc, char** argv) {
    bool frontEnd = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (isFrontEndOption(argv[i]))
            frontEnd = true;
    }
    if (!frontEnd)
        return std::nullopt;
    std::vector<std::string> args(argv + 1, argv + argc);
    return runFrontEnd(args);
}

WindowArguments parseWindowArguments(const std::vector<std::string>& args) {
    WindowArguments result;
    bool optionsEnded = false;
    for (const auto& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::error_code ec;
        // A file that exists is a file, whatever it starts with.
        if (!optionsEnded && !arg.empty() && arg[0] == '-' && !std::filesystem::exists(arg, ec)) {
            result.error = arg;
            return result;
        }
        if (!arg.empty())
            result.files.push_back(absoluteSourcePath(arg));
    }
    return result;
}

} // namespace plexavo::cli
