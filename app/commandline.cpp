#include "app/commandline.h"

#include <QCommandLineParser>

#include <cstring>

namespace {

bool isHelp(const char *argument)
{
    return std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "-?") == 0
            || std::strcmp(argument, "/?") == 0;
}

} // namespace

bool CommandLine::isHeadless(int argc, char **argv)
{
    if (argc < 2)
        return false;
    if (isHelp(argv[1]))
        return true;
    if (std::strncmp(argv[1], "--", 2) != 0)
        return false;
    for (int i = 1; i < argc; ++i) {
        for (const char *option : { "--help", "--version", "--check", "--update", "--dry-run",
                                    "--no-start", "--app-dir" }) {
            const size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0
                && (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

bool CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
            tr("Updates Morvane in the folder of this program. Without an option, or with the "
               "installed version alone, it opens its window."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(
            QStringLiteral("version"),
            tr("Shows this updater's version, its server and its signing key."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   tr("Tells whether an update is available; exit "
                                      "status 0 up to date, 10 available, 1 failure."),
                                   tr("VERSION"));
    const QCommandLineOption update(
            QStringLiteral("update"),
            tr("Downloads, verifies and installs the update without asking, then "
               "starts Morvane; exit status 0 when up to date afterwards."),
            tr("VERSION"));
    const QCommandLineOption noStartOption(QStringLiteral("no-start"),
                                           tr("With --update: Morvane is not started."));
    const QCommandLineOption dryRun(
            QStringLiteral("dry-run"),
            tr("Fetches and verifies the update and tells what it would change in "
               "--app-dir, changing nothing."),
            tr("VERSION"));
    const QCommandLineOption appDirOption(QStringLiteral("app-dir"),
                                          tr("The folder --dry-run plans against."), tr("DIR"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 tr("Appends the log's lines, with their times, to FILE."),
                                 tr("FILE"));
    parser.addOptions({ versionOption, check, update, noStartOption, dryRun, appDirOption, log });
    parser.addPositionalArgument(QStringLiteral("version"),
                                 tr("The installed version, for the window."), tr("[version]"));
    help = parser.helpText();
    const QString first = arguments.value(1);
    if (first == QLatin1String("-?") || first == QLatin1String("/?")) {
        mode = Mode::Help;
        return true;
    }
    if (arguments.size() > 1 && !first.startsWith(QLatin1String("--"))
        && first != QLatin1String("-h")) {
        version = first;
        return true;
    }
    if (!parser.parse(arguments)) {
        why = parser.errorText();
        return false;
    }
    return take(parser);
}

// One of the modes at most, and only the options that go with it.
bool CommandLine::take(const QCommandLineParser &parser)
{
    const struct
    {
        const char *name;
        Mode mode;
    } modes[] = { { "help", Mode::Help },
                  { "version", Mode::Version },
                  { "check", Mode::Check },
                  { "update", Mode::Update },
                  { "dry-run", Mode::DryRun } };
    int chosen = parser.isSet(QStringLiteral("help-all")) ? 1 : 0;
    if (chosen)
        mode = Mode::Help;
    for (const auto &option : modes) {
        if (parser.isSet(QLatin1String(option.name))) {
            mode = option.mode;
            ++chosen;
        }
    }
    const QStringList positional = parser.positionalArguments();
    const bool takesVersion = mode == Mode::Check || mode == Mode::Update || mode == Mode::DryRun;
    version = takesVersion ? parser.value(QLatin1String(modes[int(mode) - 1].name))
                           : positional.value(0);
    noStart = parser.isSet(QStringLiteral("no-start"));
    appDir = parser.value(QStringLiteral("app-dir"));
    logFile = parser.value(QStringLiteral("log"));
    if (chosen > 1)
        why = tr("--help, --version, --check, --update and --dry-run exclude each other");
    else if (positional.size() > (mode == Mode::Window ? 1 : 0))
        why = tr("unexpected argument: %1").arg(positional.last());
    else if (takesVersion && version.isEmpty())
        why = tr("the installed version is missing");
    else if (noStart && mode != Mode::Update)
        why = tr("--no-start goes with --update");
    else if ((mode == Mode::DryRun) != !appDir.isEmpty())
        why = tr("--dry-run and --app-dir go together");
    return why.isEmpty();
}
