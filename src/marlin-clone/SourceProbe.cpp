#include "SourceProbe.h"

#include <blkid/blkid.h>

namespace {
std::string lookup(blkid_probe probe, const char* name)
{
    const char* value = nullptr;
    if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || !value) {
        return {};
    }
    return value;
}
} // namespace

SourceProbe::Result SourceProbe::probe(const std::string& path)
{
    Result result{"raw", {}, {}};
    blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
    if (!probe) {
        return result;
    }
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL);
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
    // Ambiguous or unknown content gives no type, and the whole device is copied.
    if (blkid_do_safeprobe(probe) == 0) {
        const std::string type = lookup(probe, "TYPE");
        const std::string tableType = lookup(probe, "PTTYPE");
        if (!type.empty()) {
            result = {type, lookup(probe, "UUID"), lookup(probe, "LABEL")};
        } else if (!tableType.empty()) {
            result = {tableType, lookup(probe, "PTUUID"), {}};
        }
    }
    blkid_free_probe(probe);
    return result;
}

bool SourceProbe::isExtFamily(const std::string& type)
{
    return type == "ext2" || type == "ext3" || type == "ext4";
}
