#pragma once

#include "canbackend.h"
#include "connectparams.h"

#include <QStringList>

#include <functional>
#include <memory>

// The bus selection of every busvista-cli subcommand that opens a bus: which
// options choose a bus, how they fill ConnectParams, and which backend opens
// it. A new kind of bus adds one row to the option table in clibus.cpp, one
// case to the check of its options and one to createBackend.
namespace CliBus {

enum Kind { NoBus, Simulation, Pcan, IsCanBus, Pipe, SocketCanBus };

struct Choice
{
    Kind kind = NoBus;
    ConnectParams params;
    QString dllPath;           // --dll, for the hardware kinds
    bool dllGiven = false;
    bool btrGiven = false;     // --btr or --bitrate: the bit timing was chosen
    bool errorFramesGiven = false;
    QString pipeIn;            // --pipe IN OUT: text streams of other CAN tools
    QString pipeOut;
};

// Takes the bus options out of `args` and fills `choice`. False with a German
// message when an option lacks its value, a value is invalid, two buses are
// named, an option does not fit the bus, or no bus is named.
bool take(QStringList *args, Choice *choice, QString *error);

// "BUS = ..." line for usage messages and the bus part of "--help".
QString usageLine();
QString helpText();

// A closed backend for the chosen kind.
std::unique_ptr<CanBackend> createBackend(const Choice &choice);

// Opens the backend with the chosen parameters, calls `started`, runs the
// event loop for `seconds`, closes the bus and delivers what it produced up
// to then. Prints the backend's message and returns false when it does not
// open. A bus that is lost meanwhile (adapter pulled, interface down) ends
// the run early with a message; *busLost then says so, and what arrived
// before is delivered all the same. Notices of the backend go to stderr.
bool run(CanBackend &backend, const Choice &choice, double seconds,
         const std::function<void()> &started = {}, bool *busLost = nullptr);

} // namespace CliBus
