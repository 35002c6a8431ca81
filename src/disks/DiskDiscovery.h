#pragma once

#include "disks/NTFSDisk.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// Reading the disk utility's two property lists into candidates and records.
namespace DiskDiscovery {

// A partition (or table-less disk) of the listing worth a detail read.
struct Candidate {
    QString deviceNode;
    qint64 size = 0;
    // GPT "Microsoft Basic Data" can hold NTFS: kept only when its detail says so.
    bool needsNtfsDetail = false;
    friend bool operator==(const Candidate &, const Candidate &) = default;
};

struct Listing {
    QList<Candidate> candidates;
    QString parseError; // non-empty when the output was no property list
};

// Candidates of "list -plist" output, in discovery order.
Listing parseListing(const QByteArray &output);

struct ParseError {
    QString description;
};
// A record, nothing (root not a dictionary), or a parse error.
using Detail = std::variant<std::monostate, NTFSDisk, ParseError>;

// The record of "info -plist ID" output for `candidate`.
Detail parseDetail(const Candidate &candidate, const QByteArray &output);

} // namespace DiskDiscovery
