#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cmath>

#ifndef QVLINK_VERSION
#define QVLINK_VERSION "0"
#endif

namespace qvlink {
namespace {

constexpr int kMaxHistoryDays = 3650;
constexpr int kMaxHistoryMb = 1024 * 1024;

const QCommandLineOption kHistory(QStringLiteral("history"),
                                  QStringLiteral("Record the bus history into FILE instead of "
                                                 "$XDG_DATA_HOME/qvlink-monitor/"
                                                 "history.sqlite3."),
                                  QStringLiteral("FILE"));
const QCommandLineOption kNoHistory(QStringLiteral("no-history"),
                                    QStringLiteral("Record no history."));
const QCommandLineOption kHistoryDays(QStringLiteral("history-days"),
                                      QStringLiteral("Keep N days of history (default 7)."),
                                      QStringLiteral("N"));
const QCommandLineOption kHistoryMaxMb(
    QStringLiteral("history-max-mb"),
    QStringLiteral("Keep at most N megabytes of history (default 1024)."), QStringLiteral("N"));

const QCommandLineOption kRecord(QStringLiteral("record"),
                                 QStringLiteral("Record the bus from start-up into a new pcap "
                                                "file in folder DIR."),
                                 QStringLiteral("DIR"));
const QCommandLineOption kRecordRotateSize(
    QStringLiteral("record-rotate-size"),
    QStringLiteral("Start a new recording file when one reaches MB megabytes."),
    QStringLiteral("MB"));
const QCommandLineOption kRecordRingFiles(
    QStringLiteral("record-ring-files"),
    QStringLiteral("Keep at most N recording files (default with --record-rotate-size: 10)."),
    QStringLiteral("N"));
constexpr int kMaxRingFiles = 100000;
constexpr double kBytesPerMegabyte = 1e6;
constexpr double kMaxRotateBytes = 1e15;
const QCommandLineOption kReplay(
    QStringLiteral("replay"),
    QStringLiteral("Replay the capture FILE (pcap or pcapng; further files or folders of a "
                   "rotated set may follow) instead of listening on the bus. History goes to a "
                   "file of the replay's own."),
    QStringLiteral("FILE"));
const QCommandLineOption kSource(
    QStringLiteral("source"),
    QStringLiteral("Watch a bus far away through the broker its bridge publishes to, "
                   "e.g. mqtt://broker:1883/qvlink/site-7 (mqtts:// for TLS), instead of "
                   "UDP port 973."),
    QStringLiteral("URL"));
const QCommandLineOption kMqttCredentials(
    QStringLiteral("mqtt-credentials"),
    QStringLiteral("Broker user (first line) and password (second line) from FILE, which "
                   "other users must not be able to read; else from QVLINK_MQTT_USER and "
                   "QVLINK_MQTT_PASSWORD."),
    QStringLiteral("FILE"));
const QCommandLineOption kMqttCa(QStringLiteral("mqtt-ca"),
                                 QStringLiteral("Verify the broker's TLS certificate against "
                                                "the authorities in FILE (default: the "
                                                "system's)."),
                                 QStringLiteral("FILE"));
const QCommandLineOption kMqttInsecure(
    QStringLiteral("mqtt-insecure"),
    QStringLiteral("Do not verify the broker's TLS certificate (unsafe)."));

CommandLine leave(int exitCode, std::string output, std::string error) {
    CommandLine line;
    line.run = false;
    line.exitCode = exitCode;
    line.output = std::move(output);
    line.error = std::move(error);
    return line;
}

CommandLine usageError(const QString& message) {
    return leave(kUsageExitCode, {},
                 "qvlink-monitor: " + message.toStdString() + " (see qvlink-monitor --help)\n");
}

/// The option's value as a whole number from 1 to `max`; false when it is not one.
bool wholeNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int max,
                 int& number) {
    bool ok = false;
    number = parser.value(option).toInt(&ok);
    return ok && number >= 1 && number <= max;
}

QString rangeError(const QCommandLineParser& parser, const QCommandLineOption& option, int max) {
    return QStringLiteral("--%1 needs a whole number from 1 to %2, not \"%3\"")
        .arg(option.names().constFirst())
        .arg(max)
        .arg(parser.value(option));
}

/// Reads the recording options into `options`; the complaint about them, or empty.
QString readRecording(const QCommandLineParser& parser, CommandLineOptions& options) {
    if (parser.isSet(kRecord)) {
        const QFileInfo folder(parser.value(kRecord));
        if (!folder.isDir() || !folder.isWritable()) {
            return QStringLiteral(
                       "--record needs a folder that exists and may be written, "
                       "not \"%1\"")
                .arg(parser.value(kRecord));
        }
        options.recordFolder = parser.value(kRecord).toStdString();
    }
    if (parser.isSet(kRecordRotateSize)) {
        bool ok = false;
        const double bytes = parser.value(kRecordRotateSize).toDouble(&ok) * kBytesPerMegabyte;
        if (!ok || !(bytes >= 1.0) || bytes > kMaxRotateBytes) {
            return QStringLiteral(
                       "--record-rotate-size needs a size in megabytes above zero "
                       "(e.g. 100 or 0.5), not \"%1\"")
                .arg(parser.value(kRecordRotateSize));
        }
        options.recordRotation.maxBytes = static_cast<std::uint64_t>(std::llround(bytes));
        options.recordRotation.maxFiles = kDefaultRecordRingFiles;
    }
    if (parser.isSet(kRecordRingFiles)) {
        if (options.recordRotation.maxBytes == 0) {
            return QStringLiteral("--record-ring-files needs --record-rotate-size");
        }
        if (!wholeNumber(parser, kRecordRingFiles, kMaxRingFiles,
                         options.recordRotation.maxFiles)) {
            return rangeError(parser, kRecordRingFiles, kMaxRingFiles);
        }
    }
    return {};
}

/// Reads --source and the broker options into `options`; the error text, or empty.
QString readRemoteSource(const QCommandLineParser& parser, const EnvironmentLookup& environment,
                         CommandLineOptions& options) {
    if (!parser.isSet(kSource)) {
        for (const QCommandLineOption* option : {&kMqttCredentials, &kMqttCa, &kMqttInsecure}) {
            if (parser.isSet(*option)) {
                return QStringLiteral("--%1 needs --source").arg(option->names().constFirst());
            }
        }
        return {};
    }
    MqttOptionValues values;
    values.url = parser.value(kSource).toStdString();
    values.credentialsFile = parser.value(kMqttCredentials).toStdString();
    values.caFile = parser.value(kMqttCa).toStdString();
    values.insecure = parser.isSet(kMqttInsecure);
    auto resolved = resolveMqttEndpoint(values, environment);
    if (const auto* error = std::get_if<std::string>(&resolved)) {
        return QStringLiteral("--source: ") + QString::fromStdString(*error);
    }
    auto& endpoint = std::get<ResolvedMqttEndpoint>(resolved);
    options.remoteSource = std::move(endpoint.endpoint);
    options.warnings = std::move(endpoint.warnings);
    return {};
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, const EnvironmentLookup& environment) {
    QCoreApplication::setApplicationName(QStringLiteral("qvlink-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVLINK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Monitor of the QV-LINK telemechanics field bus (UDP port 973)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({kHistory, kNoHistory, kHistoryDays, kHistoryMaxMb, kRecord,
                       kRecordRotateSize, kRecordRingFiles, kReplay, kSource, kMqttCredentials,
                       kMqttCa, kMqttInsecure});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Further files or folders of a --replay."),
                                 QStringLiteral("[FILE...]"));

    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        return leave(0, parser.helpText().toStdString(), {});
    }
    if (parser.isSet(version)) {
        return leave(0, "qvlink-monitor " QVLINK_VERSION "\n", {});
    }
    if (!parser.isSet(kReplay) && !parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("unexpected argument \"%1\"")
                              .arg(parser.positionalArguments().constFirst()));
    }
    CommandLine line;
    CommandLineOptions& options = line.options;
    for (const QString& file : parser.values(kReplay) + parser.positionalArguments()) {
        if (file.isEmpty()) {
            return usageError(QStringLiteral("--replay needs a file name"));
        }
        options.replayFiles.push_back(file.toStdString());
    }
    if (parser.isSet(kReplay) && parser.isSet(kRecord)) {
        return usageError(QStringLiteral("--record and --replay exclude each other"));
    }
    if (parser.isSet(kReplay) && parser.isSet(kSource)) {
        return usageError(QStringLiteral("--replay and --source exclude each other"));
    }
    options.recordHistory = !parser.isSet(kNoHistory);
    if (parser.isSet(kHistory)) {
        if (!options.recordHistory) {
            return usageError(QStringLiteral("--history and --no-history exclude each other"));
        }
        if (parser.value(kHistory).isEmpty()) {
            return usageError(QStringLiteral("--history needs a file name"));
        }
        options.historyPath = parser.value(kHistory).toStdString();
    }
    if (parser.isSet(kHistoryDays) &&
        !wholeNumber(parser, kHistoryDays, kMaxHistoryDays, options.historyDays)) {
        return usageError(rangeError(parser, kHistoryDays, kMaxHistoryDays));
    }
    if (parser.isSet(kHistoryMaxMb) &&
        !wholeNumber(parser, kHistoryMaxMb, kMaxHistoryMb, options.historyMaxMb)) {
        return usageError(rangeError(parser, kHistoryMaxMb, kMaxHistoryMb));
    }
    const QString error = readRecording(parser, options);
    if (!error.isEmpty()) {
        return usageError(error);
    }
    const QString brokerError = readRemoteSource(parser, environment, options);
    if (!brokerError.isEmpty()) {
        return usageError(brokerError);
    }
    return line;
}

}  // namespace qvlink
