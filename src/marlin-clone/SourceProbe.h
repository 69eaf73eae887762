#pragma once

// Names what a source device holds (file system or partition table, its id and label), recorded in the header and
// used to pick how the source is copied.

#include <string>

class SourceProbe
{
public:
    struct Result
    {
        std::string type; // "ext4", "xfs", "swap", "gpt", ... or "raw" when nothing is recognised
        std::string id;   // the file system's UUID, or the partition table's id
        std::string label;
    };

    static Result probe(const std::string& path);
    static bool isExtFamily(const std::string& type);
};
