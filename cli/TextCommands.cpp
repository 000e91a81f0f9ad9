#include "TextCommands.h"

#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

bool ParseColumnList(const std::string& list, std::vector<int>* ids, std::string* unknown) {
    ids->clear();
    std::stringstream in(list);
    std::string name;
    while (std::getline(in, name, ',')) {
        if (name == "all") {
            for (int id = 0; id < kColumnCount; ++id) ids->push_back(id);
            continue;
        }
        if (name == "default") {
            std::vector<int> shown;
            for (int id = 0; id < kColumnCount; ++id)
                if (kColumns[id].visible) shown.push_back(id);
            std::sort(shown.begin(), shown.end(),
                      [](int a, int b) { return kColumns[a].position < kColumns[b].position; });
            ids->insert(ids->end(), shown.begin(), shown.end());
            continue;
        }
        const int id = ColumnIdFromName(name);
        if (id < 0) {
            *unknown = name;
            return false;
        }
        ids->push_back(id);
    }
    return true;
}

void PrintColumns(const CCaptureStore& store, const std::vector<int>& ids, bool invertCurrent) {
    std::string line;
    for (size_t k = 0; k < ids.size(); ++k) line += (k ? "\t" : "") + std::string(kColumns[ids[k]].header);
    std::puts(line.c_str());
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        line.clear();
        for (size_t k = 0; k < ids.size(); ++k) {
            if (k) line += '\t';
            line += p.GetColumnText(ids[k], invertCurrent);
        }
        std::puts(line.c_str());
    }
}

bool ParseBitRange(const std::string& text, BitRange* range) {
    *range = BitRange{};
    if (text.empty()) return true;
    long long s = 0, l = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%lld:%lld%c", &s, &l, &extra) != 2 || s < 0 || l < 0 || s > 1 << 20 ||
        l > 1 << 20)
        return false;
    range->whole = false;
    range->start = int32_t(s);
    range->length = int32_t(l);
    return true;
}

bool FieldRowsOf(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                 std::vector<PDFieldRow>* rows, std::string* error) {
    if (index < 0 || size_t(index) >= store.PacketCount()) {
        *error = "no packet " + std::to_string(index);
        return false;
    }
    const CCCPacket& p = *store.PacketAt(size_t(index));
    if (blockView && !p.extData) {
        *error = "packet " + std::to_string(index) + " has no extended data block";
        return false;
    }
    // As the packet item of the tree selects: the whole message, or the whole data block.
    const int32_t start = range.whole ? 0 : range.start;
    const int32_t length = !range.whole ? range.length : blockView ? p.extDataSize * 8 : p.messageByteCount * 8;
    *rows = BuildFieldRows(p, blockView, start, length);
    return true;
}

bool PrintFields(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                 std::string* error) {
    std::vector<PDFieldRow> rows;
    if (!FieldRowsOf(store, index, blockView, range, &rows, error)) return false;
    std::puts("Offset [bits]\tLength [bits]\tField name\tValue\tDescription\tHEX\tASCII");
    for (const PDFieldRow& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) line += (c ? "\t" : "") + row[c];
        std::puts(line.c_str());
    }
    return true;
}
