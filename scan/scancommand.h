#ifndef ORVELLA_SCANCOMMAND_H
#define ORVELLA_SCANCOMMAND_H

#include <QStringList>

class QCommandLineParser;

// The command line's --scan and the options that go with it.
void addScanOptions(QCommandLineParser &parser);
bool isScanRequest(const QCommandLineParser &parser);
// Names of the options that only go with --scan.
QStringList scanOnlyOptions();

// Builds the scan from the remembered settings and the options given and
// runs it, writing to stdout and stderr: 0 when done, 1 for a bad option
// value, 2 when the clip cannot be played.
int runScanCommand(const QCommandLineParser &parser);

#endif
