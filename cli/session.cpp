#include "cli/session.h"

#include <filesystem>
#include <system_error>

#include "archive/model/entry_list_model.h"
#include "cli/item_report.h"
#include "cli/report.h"
#include "cli/console_io.h"
#include "cli/text.h"
#include "platform/code_page.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "platform/temp_file.h"

Session::Session(const CliOptions& options)
    : options(options), bar(!options.quiet && stderrIsTerminal()), listener(bar) {
    installTestHooks(*this);
}

Session::~Session() = default;

TaskCompletion Session::runTask(uint32_t code, std::unique_ptr<TaskArgs> args) {
    TaskCompletion completion = performTask(code, std::move(args), taskProcedureOf(code), listener);
    bar.end();
    return completion;
}

ArchiveHandle Session::openArchive(const std::string& pathArgument, Access access) {
    auto archive = std::make_unique<GrfArchive>();
    const std::u16string path = corePath(pathArgument);
    Outcome opened = access == Access::READ ? archive->openForReading(path) : archive->open(path);
    if (!opened) {
        reportReason(opened.reason(), "cannot open " + pathArgument);
        return nullptr;
    }
    return archive;
}

ArchiveHandle Session::createArchive(const std::string& pathArgument) {
    auto archive = std::make_unique<GrfArchive>();
    if (Outcome created = archive->create(corePath(pathArgument)); !created) {
        reportReason(created.reason(), "cannot create " + pathArgument);
        return nullptr;
    }
    return archive;
}

bool Session::saveArchive(GrfArchive& archive, const std::string& pathArgument) {
    auto args = std::make_unique<SaveArgs>();
    args->useKoreanNames = options.korean ? 1 : 0;
    args->level = options.level;
    args->archive = &archive;
    // An entry whose source failed stops the save; it is named before the save's own line.
    const ItemReport failed(*this, "cannot store", "failed");
    if (onSaving) onSaving();
    const TaskCompletion saved = runTask(TASK_SAVE, std::move(args));
    if (!saved.outcome) {
        reportReason(saved.outcome.reason(), "cannot save " + pathArgument);
        return false;
    }
    return true;
}

uint32_t Session::nameCodePage() const {
    return options.korean ? platform::CODE_PAGE_KOREAN : platform::ansiCodePage();
}

std::optional<std::string> Session::nameBytes(const std::string& nameArgument) {
    if (options.hex) {
        auto bytes = bytesFromHex(nameArgument);
        if (!bytes) reportFailure("'" + nameArgument + "' is not a hexadecimal name");
        return bytes;
    }
    auto bytes = platform::encodeText(utf8ToUtf16(nameArgument), nameCodePage());
    if (!bytes) {
        reportFailure("'" + nameArgument + "' cannot be written in code page " + std::to_string(nameCodePage()) +
                      " within " + std::to_string(MAX_NAME_LENGTH) + " bytes (try --korean, --ansi-codepage or --hex)");
    }
    return bytes;
}

GrfEntry* Session::findEntry(GrfArchive& archive, const std::string& nameArgument) {
    const auto bytes = nameBytes(nameArgument);
    if (!bytes) return nullptr;
    auto lookUp = [&archive](const std::string& name) {
        GrfEntry* entry = archive.findStored(name);
        return entry ? entry : archive.findAdded(name);
    };
    GrfEntry* entry = lookUp(*bytes);
    // Names are stored with backslashes; a typed slash is a friendlier spelling of one.
    if (!entry && !options.hex && bytes->find('/') != std::string::npos) {
        entry = lookUp(withBackslashes(*bytes));
    }
    if (!entry) reportFailure("no entry named '" + nameArgument + "'");
    return entry;
}

std::vector<GrfEntry*> Session::findEntries(GrfArchive& archive, const std::string& nameArgument) {
    if (options.hex || nameArgument.find_first_of("*?") == std::string::npos) {
        GrfEntry* const entry = findEntry(archive, nameArgument);
        return entry ? std::vector<GrfEntry*>{entry} : std::vector<GrfEntry*>{};
    }
    const std::u16string pattern = withBackslashes(utf8ToUtf16(nameArgument));
    std::vector<GrfEntry*> matches;
    for (const uint32_t row : filterRows(archive, EntryFilter(pattern), options.korean)) {
        matches.push_back(entryForRow(archive, row));
    }
    if (matches.empty()) reportFailure("no entry matches '" + nameArgument + "'");
    return matches;
}

std::u16string corePath(const std::string& argument) {
    // Windows takes a slash for a separator too, but the core splits paths at backslashes only.
    return withBackslashes(platform::corePathFromUtf8(argument));
}

std::optional<std::u16string> makeTempFile() {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error) return std::nullopt;
    const std::u8string utf8 = directory.u8string();
    return platform::createTempFile(corePath(std::string(utf8.begin(), utf8.end())), u"qcl");
}
