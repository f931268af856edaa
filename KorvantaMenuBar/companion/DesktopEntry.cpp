#include "companion/DesktopEntry.h"

#include <QStringDecoder>

namespace kmb {

namespace {

bool isExecSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

QStringView withoutLeadingBlanks(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    return text.mid(i);
}

void storeFirst(std::optional<QString>& slot, QStringView rawValue)
{
    if (!slot)
        slot = unescapeDesktopString(rawValue);
}

} // namespace

QString unescapeDesktopString(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        switch (value[i + 1].unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        default:
            // Not a string escape: left for the Exec quoting rules to interpret.
            out.append(c);
            out.append(value[i + 1]);
            break;
        }
        ++i;
    }
    return out;
}

DesktopEntryParse parseDesktopEntry(QByteArrayView bytes)
{
    // A NUL would silently cut an argument short once it reaches execve().
    if (bytes.contains('\0'))
        return {std::nullopt, QStringLiteral("desktop file contains NUL bytes")};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return {std::nullopt, QStringLiteral("desktop file is not valid UTF-8")};

    DesktopEntry entry;
    std::optional<QString> hidden;
    bool inGroup = false;
    bool seenGroup = false;
    for (QStringView line : QStringView(text).tokenize(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = withoutLeadingBlanks(line);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.lastIndexOf(QLatin1Char(']'));
            if (close < 0)
                continue;
            const bool isEntryGroup = line.mid(1, close - 1) == QLatin1String("Desktop Entry");
            // Only the first [Desktop Entry] group counts.
            inGroup = isEntryGroup && !seenGroup;
            seenGroup = seenGroup || isEntryGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QStringView key = line.left(equals).trimmed();
        const QStringView value = withoutLeadingBlanks(line.mid(equals + 1));
        if (key == QLatin1String("Exec"))
            storeFirst(entry.exec, value);
        else if (key == QLatin1String("TryExec"))
            storeFirst(entry.tryExec, value);
        else if (key == QLatin1String("Name"))
            storeFirst(entry.name, value);
        else if (key == QLatin1String("Icon"))
            storeFirst(entry.icon, value);
        else if (key == QLatin1String("Path"))
            storeFirst(entry.path, value);
        else if (key == QLatin1String("Hidden"))
            storeFirst(hidden, value);
    }
    entry.hidden = hidden && *hidden == QLatin1String("true");
    if (!seenGroup)
        return {std::nullopt, QStringLiteral("desktop file has no [Desktop Entry] group")};
    return {entry, {}};
}

ExecExpansion expandExecLine(QStringView exec, const FieldCodeValues& values)
{
    const auto invalid = [](QString why) { return ExecExpansion{std::nullopt, std::move(why)}; };

    QStringList words;
    QString word;
    bool wordStarted = false; // anything (text, quotes or a field code) seen in this word
    bool wordQuoted = false;  // quotes keep an empty word alive: "" is an empty argument
    bool inQuotes = false;
    const auto finishWord = [&] {
        if (wordStarted && (!word.isEmpty() || wordQuoted))
            words.append(word);
        word.clear();
        wordStarted = wordQuoted = false;
    };

    const qsizetype n = exec.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < n &&
                       QStringView(u"\"`$\\").contains(exec[i + 1])) {
                word.append(exec[++i]);
            } else {
                word.append(c);
            }
            continue;
        }
        if (isExecSeparator(c)) {
            finishWord();
            continue;
        }
        if (c == QLatin1Char('"')) {
            inQuotes = wordStarted = wordQuoted = true;
            continue;
        }
        if (c != QLatin1Char('%')) {
            word.append(c);
            wordStarted = true;
            continue;
        }
        if (i + 1 == n)
            return invalid(QStringLiteral("Exec ends in a lone %"));
        const QChar code = exec[++i];
        switch (code.unicode()) {
        case '%':
            word.append(QLatin1Char('%'));
            break;
        case 'f':
        case 'F':
        case 'u':
        case 'U':
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':
            break;
        case 'c':
            word.append(values.name);
            break;
        case 'k':
            word.append(values.desktopFilePath);
            break;
        case 'i':
            // Expands to two arguments, which only makes sense as a word of its own.
            if (wordStarted || (i + 1 < n && !isExecSeparator(exec[i + 1])))
                return invalid(QStringLiteral("%i in Exec is not an argument of its own"));
            if (!values.icon.isEmpty())
                words << QStringLiteral("--icon") << values.icon;
            continue;
        default:
            return invalid(QStringLiteral("unknown field code %") + code +
                           QStringLiteral(" in Exec"));
        }
        wordStarted = true;
    }
    if (inQuotes)
        return invalid(QStringLiteral("unbalanced double quote in Exec"));
    finishWord();
    if (words.isEmpty())
        return invalid(QStringLiteral("Exec names no program"));
    ExecCommand command;
    command.program = words.takeFirst();
    command.arguments = std::move(words);
    return {std::move(command), {}};
}

DesktopLaunchPlan planDesktopLaunch(QByteArrayView bytes, const QString& desktopFilePath,
                                    const QStringList& arguments)
{
    DesktopLaunchPlan plan;
    const DesktopEntryParse parsed = parseDesktopEntry(bytes);
    if (!parsed.entry) {
        plan.error = parsed.error;
        return plan;
    }
    const DesktopEntry& entry = *parsed.entry;
    if (entry.hidden) {
        plan.kind = DesktopLaunchPlan::Kind::Hidden;
        return plan;
    }
    if (entry.tryExec && !entry.tryExec->isEmpty())
        plan.tryExec = entry.tryExec;
    if (entry.path && !entry.path->isEmpty())
        plan.workingDirectory = entry.path;
    if (!entry.exec) {
        plan.error = QStringLiteral("desktop file has no Exec key");
        return plan;
    }
    ExecExpansion expansion = expandExecLine(
        *entry.exec, FieldCodeValues{entry.icon.value_or(QString()), entry.name.value_or(QString()),
                                     desktopFilePath});
    if (!expansion.command) {
        plan.error = expansion.error;
        return plan;
    }
    plan.kind = DesktopLaunchPlan::Kind::Launch;
    plan.command = std::move(*expansion.command);
    plan.command.arguments += arguments;
    return plan;
}

} // namespace kmb
