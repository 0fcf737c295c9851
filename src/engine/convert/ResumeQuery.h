// Continuing a stopped output: asking the core whether a kept file can go on
// ("-can-resume"), and finding the kept file a row or a command line left.
// The core answers for the very source, settings and part of the earlier
// run, and only for a file its stop recorded and that is unchanged since.
#pragma once

#include "PlexcoreContract.h"
#include "engine/convert/EncodeJob.h"
#include "engine/media/ListState.h"

#include <functional>
#include <string>
#include <vector>

namespace plexavo::convert {

// The core's words for it (contract/PlexcoreContract.h, docs/core.md).
inline constexpr const char* kCanResumeOption = contract::kCanResumeOption;
inline constexpr const char* kResumeOption = contract::kResumeOption;
inline constexpr const char* kResumablePrefix = contract::kResumablePrefix;
inline constexpr const char* kNotResumablePrefix = contract::kNotResumablePrefix;
inline constexpr const char* kContinuePrefix = contract::kContinuePrefix;

struct ResumeAnswer {
    bool resumable = false;
    double keptSeconds = 0;  // of the output, from its start
    double totalSeconds = 0; // the whole output would hold; 0 when unknown
    std::string reason;      // why not, in the core's words (or the engine's)
};

// The answer in the core's output and exit status: "Resumable: K of T" with
// exit 0 is a yes; anything else a no, with the core's reason.
ResumeAnswer parseResumeAnswer(const std::string& output, int exitCode);

// The question's command line, as the conversion's but for the last two
// arguments.
std::vector<std::string> canResumeArguments(const std::string& sourcePath,
                                            const std::string& keptPath, const std::string& title,
                                            const std::string& options, const SourcePart& part);

// Asks the core; touches nothing. A core that cannot be started, or gives no
// answer within its time, answers no.
ResumeAnswer askCanResume(const std::string& sourcePath, const std::string& keptPath,
                          const std::string& title, const std::string& options,
                          const SourcePart& part);

// The outputs an earlier run of this title may have left in folder, in the
// order the names are given out (title-cvt.ext, title-cvt[1].ext, ...): the
// ones that are there, up to the first free name.
std::vector<std::string> earlierOutputs(const std::string& folder, const std::string& title,
                                        const std::string& extension);

// The first of the candidates the core can continue with this source,
// settings and part; keptPath empty when none.
struct KeptOutput {
    std::string keptPath;
    ResumeAnswer answer;
};
KeptOutput findKeptOutput(const std::vector<std::string>& candidates, const std::string& sourcePath,
                          const std::string& title, const std::string& options,
                          const SourcePart& part);

// The rows of a list left by a copy that died, as a restore shows them:
// converted rows stay converted; a row that was being converted, or was
// stopped, holds what the core says its kept output can be continued from
// (Skip, with the seconds), or is Ready; every other row is Ready; a row
// whose source is gone is marked so. ask is the core's question for a row's
// output (askCanResume with the list's settings when not given); the rows are
// asked about side by side, up to one question per processor, so ask is called
// from several threads at once.
struct RestoreSummary {
    int converted = 0;
    int stopped = 0;
    int ready = 0;
    int missing = 0;
};
using KeptQuestion = std::function<ResumeAnswer(const media::SourceItem& row)>;
RestoreSummary settleRestoredRows(media::SavedList& list, const KeptQuestion& ask = {});

} // namespace plexavo::convert
