#include "gui/common/UiText.h"

#include "engine/i18n/ResourceText.h"
#include "engine/platform/DebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace plexavo::gui {

using res::Kind;

QString str(unsigned id, ...) {
    const res::Module& module = i18n::currentModule();
    const char* format = i18n::findText(module, Kind::String, 0, static_cast<int>(id));
    if (!format)
        return QString::fromStdString(i18n::loadResString(id)); // logs the missing id, yields ""
    // As in loadResString: a pack text asking for other arguments than the
    // caller passes would read garbage, so it is shown unformatted.
    if (&module != &res::defaultModule()) {
        const char* reference =
            i18n::findText(res::defaultModule(), Kind::String, 0, static_cast<int>(id));
        if (reference &&
            i18n::conversionSignature(format) != i18n::conversionSignature(reference)) {
            platform::writeLog("**Resource String %u of %s has mismatched placeholders", id,
                               module.name);
            return QString::fromUtf8(format);
        }
    }
    va_list args;
    va_start(args, id);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> buffer(n > 0 ? static_cast<std::size_t>(n) + 1 : 1, '\0');
    if (n > 0)
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
    va_end(again);
    return QString::fromUtf8(buffer.data());
}

QString dialogText(int dialog, int control) {
    return QString::fromUtf8(i18n::findText(i18n::currentModule(), Kind::Dialog, dialog, control));
}

namespace {
QString promptPart(int command, bool tip) {
    const QString prompt =
        QString::fromUtf8(i18n::findText(i18n::currentModule(), Kind::Prompt, 0, command));
    const qsizetype nl = prompt.indexOf(QLatin1Char('\n'));
    if (nl < 0)
        return tip ? QString() : prompt;
    return tip ? prompt.mid(nl + 1) : prompt.left(nl);
}
} // namespace

QString commandStatus(int command) {
    return promptPart(command, false);
}
QString commandTip(int command) {
    return promptPart(command, true);
}

QString productName() {
    return QStringLiteral("Plexavo");
}

QString nameFromLabel(QString text) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

} // namespace plexavo::gui
