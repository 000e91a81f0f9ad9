// The Python module `ambrio`: record files decoded by the project's own libraries (packets, their texts,
// field tables and trees, the VBUS and CC samples as one NumPy array), the summary and findings in the
// form `qxtool summary|check --json` gives them, the synthesizer and the import of logic captures.
// Failures raise ambrio.Error with the one-line message qxtool prints after "qxtool: ".
#include "Analyzer.h"
#include "CaptureJson.h"
#include "CaptureStore.h"
#include "EmulatedAnalyzer.h"
#include "FieldTable.h"
#include "FlowGrouper.h"
#include "ImportModule.h"
#include "PacketTexts.h"
#include "PacketTreeModel.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "TextCommands.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace py = pybind11;
namespace fs = std::filesystem;

namespace {

// Raised as ambrio.Error: input that cannot be used, in qxtool's words.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One opened record file. Packets point into its store, so every packet object keeps it alive; the
// capture's memory goes when the last of them does.
struct CaptureData {
    CQXDoc doc;
    rec::RecordFileHead file;
    std::string path;
    std::string warning;                      // a file cut short: what qxtool prints as its warning
    std::optional<analysis::Results> results; // with the default limits, made on first use

    const CCaptureStore& Store() const { return doc.store; }
};
using CaptureRef = std::shared_ptr<CaptureData>;

// Checks and decodes a record file as qxtool does; a file shorter than its header block says is decoded
// as far as it goes, with a warning.
CaptureRef OpenCapture(const std::string& path, bool tolerant) {
    auto c = std::make_shared<CaptureData>();
    c->path = path;
    std::string reason;
    if (!rec::CheckRecordFile(path, &c->file, &reason)) throw Failure(path + ": " + reason);
    c->doc.store.tolerantBits = tolerant;
    bool opened;
    {
        py::gil_scoped_release unlocked;
        opened = c->doc.OpenDocument(path);
    }
    if (!opened) throw Failure(path + ": cannot be opened");
    if (const int64_t missing = rec::MissingBytes(c->file); missing > 0) {
        c->warning = path + ": " + rec::MissingBytesText(missing, rec::HeaderBytesWritten(c->file));
        if (PyErr_WarnEx(PyExc_RuntimeWarning, c->warning.c_str(), 1) < 0) throw py::error_already_set();
    }
    return c;
}

py::object ToPython(const nlohmann::ordered_json& j) {
    using T = nlohmann::ordered_json::value_t;
    switch (j.type()) {
    case T::null:
        return py::none();
    case T::boolean:
        return py::bool_(j.get<bool>());
    case T::number_integer:
        return py::int_(j.get<int64_t>());
    case T::number_unsigned:
        return py::int_(j.get<uint64_t>());
    case T::number_float:
        return py::float_(j.get<double>());
    case T::string:
        return py::str(j.get_ref<const std::string&>());
    case T::array: {
        py::list list;
        for (const auto& item : j) list.append(ToPython(item));
        return list;
    }
    case T::object: {
        py::dict dict;
        for (const auto& [key, value] : j.items()) dict[py::str(key)] = ToPython(value);
        return dict;
    }
    default:
        return py::none();
    }
}

// ---------------------------------------------------------------------------------------------------------
// Packets. A packet and the iterator over them are plain CPython types: scripts walk millions of packets,
// and a pybind11 instance (registered, looked up, unregistered) costs several times what a packet's type
// and time do.

PyObject* errorType = nullptr; // ambrio.Error

struct PacketObject {
    PyObject_HEAD CaptureRef capture;
    size_t position; // in the store, as qxtool's packet numbers count
    const CCCPacket* packet;
};

struct IteratorObject {
    PyObject_HEAD CaptureRef capture;
    size_t next;
};

PyTypeObject* packetType = nullptr;
PyTypeObject* iteratorType = nullptr;

PyObject* NewPacket(const CaptureRef& c, size_t position) {
    auto* o = PyObject_New(PacketObject, packetType);
    if (!o) return nullptr;
    new (&o->capture) CaptureRef(c);
    o->position = position;
    o->packet = c->Store().PacketAt(position);
    return reinterpret_cast<PyObject*>(o);
}

const CCCPacket& PacketOf(PyObject* self) {
    return *reinterpret_cast<PacketObject*>(self)->packet;
}

// Runs a method body written with pybind11 and turns its exceptions into Python errors.
template <typename Body> PyObject* Guarded(Body&& body) {
    try {
        return body().release().ptr();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const Failure& e) {
        PyErr_SetString(errorType, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

int ColumnId(const py::handle& key) {
    if (py::isinstance<py::int_>(key)) {
        const int id = key.cast<int>();
        if (id >= 0 && id < kColumnCount) return id;
    } else if (py::isinstance<py::str>(key)) {
        const int id = ColumnIdFromName(key.cast<std::string>());
        if (id >= 0) return id;
    }
    throw py::value_error("unknown column: " + py::str(key).cast<std::string>() +
                          " (ambrio.COLUMNS lists them)");
}

// The columns asked for: a list of ids or headers, or qxtool's --columns text ("all", "default", ...).
std::vector<int> ColumnIds(const py::handle& which) {
    std::vector<int> ids;
    if (py::isinstance<py::str>(which)) {
        std::string unknown;
        if (!ParseColumnList(which.cast<std::string>(), &ids, &unknown))
            throw py::value_error("unknown column: " + unknown + " (ambrio.COLUMNS lists them)");
        return ids;
    }
    for (const py::handle& key : which) ids.push_back(ColumnId(key));
    return ids;
}

py::list FieldRows(const PacketObject& p, bool block, const py::handle& start, const py::handle& length) {
    if (start.is_none() != length.is_none())
        throw py::value_error("fields: give both start and length, or neither");
    BitRange range;
    // As qxtool's --range START:LENGTH.
    if (!start.is_none() &&
        !ParseBitRange(std::to_string(start.cast<int64_t>()) + ":" + std::to_string(length.cast<int64_t>()),
                       &range))
        throw py::value_error("fields: start and length are bits from 0 to 1048576");
    std::vector<PDFieldRow> rows;
    std::string error;
    if (!FieldRowsOf(p.capture->Store(), int64_t(p.position), block, range, &rows, &error))
        throw Failure(error);
    static const char* const kKeys[] = {"offset", "length", "name", "value", "description", "hex", "ascii"};
    py::list list;
    for (const PDFieldRow& row : rows) {
        py::dict d;
        for (size_t c = 0; c < row.size(); ++c) d[kKeys[c]] = py::str(row[c]);
        list.append(std::move(d));
    }
    return list;
}

// The packet's tree as nested items: the text, the bits its field table shows (as fields() takes them)
// and the children.
py::list Tree(const CCCPacket& packet) {
    const std::vector<PacketTreeItem> items = CPacketTreeModel::BuildItems(packet);
    std::vector<py::list> children(items.size());
    py::list top;
    for (size_t i = 0; i < items.size(); ++i) {
        const FieldRange r = CPacketTreeModel::RangeOfItem(packet, items[i].value);
        py::dict range;
        range["block"] = r.blockView;
        range["start"] = r.start;
        range["length"] = r.length;
        py::dict node;
        node["text"] = items[i].text;
        node["range"] = range;
        node["children"] = children[i];
        // Parents come before their children.
        if (items[i].parent < 0)
            top.append(node);
        else
            children[size_t(items[i].parent)].append(node);
    }
    return top;
}

PyObject* PacketNumber(PyObject* self, void*) {
    return PyLong_FromLong(PacketOf(self).index);
}

PyObject* PacketTime(PyObject* self, void*) {
    const auto* o = reinterpret_cast<PacketObject*>(self);
    return PyLong_FromLongLong(o->capture->Store().DisplayTime(*o->packet));
}

PyObject* PacketChannel(PyObject* self, void*) {
    return PyLong_FromLong(PacketOf(self).channel + 1);
}

PyObject* FromText(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyObject* PacketOrderedSet(PyObject* self, void*) {
    const CCCPacket& p = PacketOf(self);
    if (!p.preambleFound) Py_RETURN_NONE;
    return FromText(p.GetColumnText(kColumnOrderedSet, false));
}

PyObject* PacketCrc(PyObject* self, void*) {
    const CCCPacket& p = PacketOf(self);
    if (!p.hasCrc) Py_RETURN_NONE;
    return PyUnicode_FromString(p.crcGood ? "good" : "bad");
}

PyObject* PacketMessageType(PyObject* self, void*) {
    return FromText(PacketOf(self).GetMessageTypeText());
}

PyObject* PacketBytes(PyObject* self, void*) {
    const CCCPacket& p = PacketOf(self);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(p.messageBytes), p.messageByteCount);
}

PyObject* PacketReasons(PyObject* self, void*) {
    return Guarded([&] { return py::cast(analysis::InvalidPacketReasons(PacketOf(self))); });
}

PyObject* PacketColumn(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kNames[] = {"column", "invert_current", nullptr};
    PyObject* key = nullptr;
    int invert = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|p:column", const_cast<char**>(kNames), &key, &invert))
        return nullptr;
    return Guarded([&] { return py::str(PacketOf(self).GetColumnText(ColumnId(key), invert != 0)); });
}

PyObject* PacketColumns(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kNames[] = {"which", "invert_current", nullptr};
    PyObject* which = nullptr;
    int invert = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|Op:columns", const_cast<char**>(kNames), &which,
                                     &invert))
        return nullptr;
    return Guarded([&] {
        py::dict d;
        for (int id : ColumnIds(which ? py::handle(which) : py::str("all")))
            d[kColumns[id].header] = PacketOf(self).GetColumnText(id, invert != 0);
        return d;
    });
}

PyObject* PacketFields(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kNames[] = {"block", "start", "length", nullptr};
    int block = 0;
    PyObject* start = Py_None;
    PyObject* length = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|pOO:fields", const_cast<char**>(kNames), &block, &start,
                                     &length))
        return nullptr;
    return Guarded(
        [&] { return FieldRows(*reinterpret_cast<PacketObject*>(self), block != 0, start, length); });
}

PyObject* PacketTree(PyObject* self, PyObject*) {
    return Guarded([&] { return Tree(PacketOf(self)); });
}

PyObject* PacketRepr(PyObject* self) {
    const auto* o = reinterpret_cast<PacketObject*>(self);
    const CCCPacket& p = *o->packet;
    const std::string text =
        "<ambrio.Packet " + std::to_string(p.index) + " CC" + std::to_string(p.channel + 1) + " " +
        std::to_string(o->capture->Store().DisplayTime(p)) + " us " + p.GetMessageTypeText() + ">";
    return FromText(text);
}

void PacketDealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PacketObject*>(self)->capture.~CaptureRef();
    PyObject_Free(self);
    Py_DECREF(type);
}

PyObject* IteratorNext(PyObject* self) {
    auto* it = reinterpret_cast<IteratorObject*>(self);
    if (it->next >= it->capture->Store().PacketCount()) return nullptr; // StopIteration
    return NewPacket(it->capture, it->next++);
}

void IteratorDealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<IteratorObject*>(self)->capture.~CaptureRef();
    PyObject_Free(self);
    Py_DECREF(type);
}

PyObject* NewIterator(const CaptureRef& c) {
    auto* o = PyObject_New(IteratorObject, iteratorType);
    if (!o) return nullptr;
    new (&o->capture) CaptureRef(c);
    o->next = 0;
    return reinterpret_cast<PyObject*>(o);
}

PyGetSetDef kPacketGetters[] = {
    {"number", PacketNumber, nullptr, "The packet's number in the list.", nullptr},
    {"time_us", PacketTime, nullptr, "Start in µs from the time origin.", nullptr},
    {"channel", PacketChannel, nullptr, "1 for CC1, 2 for CC2.", nullptr},
    {"ordered_set", PacketOrderedSet, nullptr, "The ordered set's name; None without a preamble.", nullptr},
    {"crc", PacketCrc, nullptr, "\"good\" or \"bad\"; None when no CRC was received.", nullptr},
    {"message_type", PacketMessageType, nullptr, "The message type text.", nullptr},
    {"bytes", PacketBytes, nullptr, "The message bytes before the CRC.", nullptr},
    {"reasons", PacketReasons, nullptr,
     "Why the packet list paints the packet red, in words; empty when it does not.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kPacketMethods[] = {
    {"column", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(PacketColumn)),
     METH_VARARGS | METH_KEYWORDS,
     "column(column, invert_current=False): one packet-list column's text, by header or id."},
    {"columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(PacketColumns)),
     METH_VARARGS | METH_KEYWORDS,
     "columns(which='all', invert_current=False): column texts by header; which: \"all\", \"default\", or a "
     "list of headers or ids."},
    {"fields", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(PacketFields)),
     METH_VARARGS | METH_KEYWORDS,
     "fields(block=False, start=None, length=None): the field table of the whole message (with block=True "
     "the "
     "extended data block), or of the bits from start, length long."},
    {"tree", PacketTree, METH_NOARGS,
     "tree(): the packet's tree: items with text, range (as fields() takes it) "
     "and children."},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject* MakeType(const char* name, const char* doc, int size, std::vector<PyType_Slot> slots) {
    slots.push_back({Py_tp_doc, const_cast<char*>(doc)});
    slots.push_back({0, nullptr});
    PyType_Spec spec{name, size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    if (!type) throw py::error_already_set();
    // Only a capture makes them: Python may not, since an empty one points nowhere.
    type->tp_new = nullptr;
    PyType_Modified(type);
    return type;
}

void BindPacket(py::module_& m) {
    packetType = MakeType("ambrio.Packet", "One decoded packet of a capture; it keeps its capture alive.",
                          int(sizeof(PacketObject)),
                          {{Py_tp_dealloc, reinterpret_cast<void*>(PacketDealloc)},
                           {Py_tp_repr, reinterpret_cast<void*>(PacketRepr)},
                           {Py_tp_getset, kPacketGetters},
                           {Py_tp_methods, kPacketMethods}});
    iteratorType =
        MakeType("ambrio.PacketIterator", "The packets of a capture in order.", int(sizeof(IteratorObject)),
                 {{Py_tp_dealloc, reinterpret_cast<void*>(IteratorDealloc)},
                  {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
                  {Py_tp_iternext, reinterpret_cast<void*>(IteratorNext)}});
    m.attr("Packet") = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(packetType));
    m.attr("PacketIterator") = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(iteratorType));
}

// ---------------------------------------------------------------------------------------------------------
// Captures.

struct Capture {
    CaptureRef data; // none once closed

    const CaptureRef& Data() const {
        if (!data) throw py::value_error("the capture is closed");
        return data;
    }
    py::object At(int64_t i) const {
        const CaptureRef& c = Data();
        const int64_t n = int64_t(c->Store().PacketCount());
        if (i < 0) i += n;
        if (i < 0 || i >= n) throw py::index_error("no packet " + std::to_string(i));
        PyObject* p = NewPacket(c, size_t(i));
        if (!p) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(p);
    }
};

// The VBUS and CC readings of one sample, as one row of the array.
#pragma pack(push, 1)
struct SampleRow {
    int64_t time;
    uint16_t vbusMv;
    int16_t currentMa, cc1Mv, cc2Mv, cc1Ma, cc2Ma;
};
#pragma pack(pop)

py::dtype SampleType() {
    py::list fields;
    for (auto [name, type] : {std::pair{"time_us", "<i8"},
                              {"vbus_mV", "<u2"},
                              {"current_mA", "<i2"},
                              {"cc1_mV", "<i2"},
                              {"cc2_mV", "<i2"},
                              {"cc1_mA", "<i2"},
                              {"cc2_mA", "<i2"}})
        fields.append(py::make_tuple(name, type));
    py::dtype type = py::dtype::from_args(fields);
    if (type.itemsize() != py::ssize_t(sizeof(SampleRow))) throw std::logic_error("sample row layout");
    return type;
}

py::array Samples(const Capture& cap) {
    const CaptureRef& c = cap.Data();
    const CCaptureStore& store = c->Store();
    const size_t n = store.SampleCount();
    py::array array(SampleType(), std::vector<py::ssize_t>{py::ssize_t(n)});
    auto* rows = static_cast<SampleRow*>(array.mutable_data());
    {
        py::gil_scoped_release unlocked;
        for (size_t i = 0; i < n; ++i) {
            const CVbusInfo& s = *store.SampleAt(i);
            rows[i] = SampleRow{store.DisplayTime(s), s.vbusVoltage, s.vbusCurrent, s.cc1Voltage,
                                s.cc2Voltage,         s.cc1Current,  s.cc2Current};
        }
    }
    return array;
}

// The analysis with the default limits is kept; other limits analyse afresh.
const analysis::Results& Analysis(CaptureData& c, const py::object& limitsGiven, analysis::Results* scratch) {
    if (limitsGiven.is_none()) {
        if (!c.results) {
            analysis::Results r;
            {
                py::gil_scoped_release unlocked;
                r = analysis::Analyze(c.Store());
            }
            // Another thread may have got there first while this one analysed.
            if (!c.results) c.results = std::move(r);
        }
        return *c.results;
    }
    analysis::CLimits limits;
    for (const auto& [key, value] : limitsGiven.cast<py::dict>()) {
        const std::string k = py::str(key), v = py::str(value);
        if (!limits.Set(k, v))
            throw py::value_error("limit " + k + "=" + v +
                                  ": not a known limit set to a number (ambrio.LIMITS lists them)");
    }
    py::gil_scoped_release unlocked;
    *scratch = analysis::Analyze(c.Store(), limits);
    return *scratch;
}

// What qxtool summary --json prints, one dict per connection.
py::list Summary(const Capture& cap, const py::object& limits) {
    CaptureData& c = *cap.Data();
    analysis::Results scratch;
    const analysis::Results& r = Analysis(c, limits, &scratch);
    py::list list;
    for (size_t n = 0; n < r.connections.size(); ++n)
        list.append(ToPython(ConnectionJson(c.Store(), r.connections[n], n + 1)));
    return list;
}

// What qxtool flow --json prints, one dict per exchange with its transactions, their packets and the
// findings attached.
py::list Exchanges(const Capture& cap) {
    CaptureData& c = *cap.Data();
    analysis::Results results;
    flow::Flow grouped;
    {
        py::gil_scoped_release unlocked;
        results = analysis::Analyze(c.Store());
        grouped = flow::Group(c.Store(), results.findings);
    }
    py::list list;
    for (size_t n = 0; n < grouped.exchanges.size(); ++n)
        list.append(ToPython(ExchangeJson(c.Store(), grouped, grouped.exchanges[n], n + 1, results.findings)));
    return list;
}

// What qxtool check --json prints, one dict per finding of the rules chosen (all when none are).
py::list Check(const Capture& cap, const py::object& rulesGiven, const py::object& limits) {
    CaptureData& c = *cap.Data();
    std::vector<analysis::RuleId> rules;
    if (!rulesGiven.is_none()) {
        // A list of keys, or one text of them comma-separated as qxtool's --rules.
        py::list keys;
        if (py::isinstance<py::str>(rulesGiven))
            keys = rulesGiven.attr("split")(",");
        else
            keys = py::list(rulesGiven);
        for (const py::handle& key : keys) {
            const std::string k = py::str(key);
            if (k.empty()) continue;
            const analysis::RuleInfo* rule = analysis::FindRule(k);
            if (!rule) throw py::value_error("unknown rule: " + k + " (ambrio.RULES lists them)");
            rules.push_back(rule->id);
        }
    }
    analysis::Results scratch;
    const analysis::Results& r = Analysis(c, limits, &scratch);
    py::list list;
    for (const analysis::Finding& f : r.findings)
        if (rules.empty() || std::find(rules.begin(), rules.end(), f.rule) != rules.end())
            list.append(ToPython(FindingJson(c.Store(), f)));
    return list;
}

py::object Info(const Capture& cap) {
    const CaptureRef& c = cap.Data();
    return ToPython(InfoJson(c->Store(), {c->path, c->file.size, &c->file.head}));
}

void BindCapture(py::module_& m) {
    py::class_<Capture>(m, "Capture", "A decoded record file.")
        .def("__len__", [](const Capture& c) { return c.Data()->Store().PacketCount(); })
        .def("__getitem__", &Capture::At, py::arg("index"))
        .def("__getitem__",
             [](const Capture& c, const py::slice& slice) {
                 py::ssize_t start, stop, step, count;
                 if (!slice.compute(py::ssize_t(c.Data()->Store().PacketCount()), &start, &stop, &step,
                                    &count))
                     throw py::error_already_set();
                 py::list list;
                 for (py::ssize_t k = 0; k < count; ++k, start += step) list.append(c.At(start));
                 return list;
             })
        .def("__iter__",
             [](const Capture& c) {
                 PyObject* it = NewIterator(c.Data());
                 if (!it) throw py::error_already_set();
                 return py::reinterpret_steal<py::object>(it);
             })
        .def_property_readonly(
            "path",
            [](const Capture& c) -> py::object {
                const std::string& path = c.Data()->path;
                return path.empty() ? py::object(py::none()) : py::str(path);
            },
            "The record file; None for a synthesized capture that was not kept.")
        .def_property_readonly(
            "warning",
            [](const Capture& c) -> py::object {
                const std::string& w = c.Data()->warning;
                return w.empty() ? py::object(py::none()) : py::str(w);
            },
            "qxtool's warning for a file cut short, or None.")
        .def_property_readonly(
            "info", &Info, "What qxtool info --json gives: counts, header block, tallies, extremes, marks.")
        .def("samples", &Samples,
             "The VBUS and CC samples as a NumPy structured array: time_us, vbus_mV, current_mA, cc1_mV, "
             "cc2_mV, cc1_mA, cc2_mA.")
        .def("summary", &Summary, py::arg("limits") = py::none(),
             "What qxtool summary --json gives: one dict per connection.")
        .def("exchanges", &Exchanges,
             "What qxtool flow --json gives: one dict per exchange (kind, title, times, initiator, result, "
             "transactions with their packets, findings).")
        .def("check", &Check, py::arg("rules") = py::none(), py::arg("limits") = py::none(),
             "What qxtool check --json gives: one dict per finding. rules: keys (a list or a comma-separated "
             "text); limits: {key: value}.")
        .def(
            "close", [](Capture& c) { c.data.reset(); },
            "Lets the capture go; its memory goes with the last packet taken from it.")
        .def("__enter__", [](Capture& c) -> Capture& { return c; })
        .def("__exit__", [](Capture& c, const py::args&) { c.data.reset(); })
        .def("__repr__", [](const Capture& c) {
            if (!c.data) return std::string("<ambrio.Capture closed>");
            return "<ambrio.Capture " + c.data->path + ": " + std::to_string(c.data->Store().PacketCount()) +
                   " packets, " + std::to_string(c.data->Store().SampleCount()) + " samples>";
        });
}

// ---------------------------------------------------------------------------------------------------------
// The synthesizer and the import.

synth::Scenario ScenarioOf(const py::object& scenario) {
    synth::Scenario sc;
    std::string error;
    if (py::isinstance<py::dict>(scenario)) {
        const std::string text = py::module_::import("json").attr("dumps")(scenario).cast<std::string>();
        if (!synth::ScenarioFromJson(text, &sc, &error)) throw Failure(error);
        return sc;
    }
    const std::string name = py::str(py::module_::import("os").attr("fspath")(scenario));
    if (!FindScenario(name, &sc, &error)) throw Failure(error);
    return sc;
}

std::string TemporaryRecordPath() {
    static std::atomic<unsigned> count{0};
    return (fs::temp_directory_path() /
            ("ambrio-synth-" + std::to_string(getpid()) + "-" + std::to_string(count++) + ".qxc"))
        .string();
}

Capture Synthesize(const py::object& scenario, const std::optional<double>& seconds, uint32_t seed,
                   const py::object& path, uint16_t clock, double highStretch, bool tolerant) {
    if (seconds && !(*seconds >= 0.01 && *seconds <= 86400))
        throw py::value_error("seconds: from 0.01 to 86400");
    if (!(highStretch >= 0 && highStretch <= 1.5)) throw py::value_error("high_stretch: from 0 to 1.5 µs");
    if (!synth::ClockSettingCarriesBmc(clock))
        throw py::value_error("clock setting " + std::to_string(clock) + ": divisor " +
                              std::to_string(rec::ClockDivisor(clock)) +
                              " is too coarse for BMC traffic (at most " +
                              std::to_string(synth::kMaxBmcDivisor) + ")");
    const synth::Scenario sc = ScenarioOf(scenario);
    synth::SynthOptions options;
    options.seconds = seconds.value_or(0);
    options.clockSetting = clock;
    options.seed = seed;
    options.highStretch = highStretch;
    const bool keep = !path.is_none();
    const std::string out = keep ? py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>()
                                 : TemporaryRecordPath();
    std::string error;
    bool written;
    {
        py::gil_scoped_release unlocked;
        written = synth::WriteScenarioFile(out, sc, options, &error);
    }
    if (!written) throw Failure(error);
    if (keep) return Capture{OpenCapture(out, tolerant)};
    // Decoded, the file is not needed any more.
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            fs::remove(path, ec);
        }
    } remove{out};
    Capture c{OpenCapture(out, tolerant)};
    c.data->path.clear();
    return c;
}

// The folder of this module: the import module is looked for beside it first.
std::string ModuleFolder() {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&ModuleFolder), &self) || !self.dli_fname) return {};
    std::error_code ec;
    const fs::path file = fs::absolute(self.dli_fname, ec);
    return ec ? std::string() : file.parent_path().string();
}

py::dict ImportLogic(const py::object& input, const py::object& output, const std::string& cc1,
                     const std::optional<std::string>& cc2, int clock,
                     const std::optional<std::string>& format, bool overwrite) {
    if (clock < 0 || clock > 0xFFFF) throw py::value_error("clock: a clock setting from 0 to 65535");
    if (cc2 && *cc2 == cc1) throw py::value_error("cc1 and cc2 name the same channel");
    auto fspath = py::module_::import("os").attr("fspath");
    imp::ImportRequest r;
    r.input = py::str(fspath(input));
    r.output = py::str(fspath(output));
    r.cc1 = cc1;
    r.cc2 = cc2.value_or("");
    r.clockSetting = uint16_t(clock);
    r.format = format.value_or("");
    r.overwrite = overwrite;
    std::string error;
    const imp::ImportModuleApi* module = imp::LoadImportModule(&error, ModuleFolder());
    if (!module) throw Failure(error);

    // The import runs on a thread of its own while this one waits for it, so that Ctrl+C stops it: the
    // stop reaches the library at its next packet or chunk, and nothing is left of the output.
    std::atomic<bool> cancel{false};
    r.cancel = &cancel;
    std::future<imp::ImportReport> done =
        std::async(std::launch::async, [module, &r] { return module->importCapture(r); });
    bool interrupted = false;
    {
        py::gil_scoped_release unlocked;
        while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            py::gil_scoped_acquire locked;
            if (PyErr_CheckSignals() < 0) {
                cancel = true;
                interrupted = true;
                py::gil_scoped_release again;
                done.wait();
                break;
            }
        }
    }
    const imp::ImportReport rep = done.get();
    if (interrupted) throw py::error_already_set();
    if (!rep.ok) throw Failure(rep.error);

    py::dict d;
    d["format"] = rep.format;
    d["sample_rate"] = rep.sampleRate;
    d["samples"] = rep.samples;
    py::list channels;
    for (int c = 0; c < 2; ++c) {
        if (rep.channelName[c].empty()) continue;
        const imp::ChannelTally& t = rep.tally[c];
        py::dict ch;
        ch["cc"] = c + 1;
        ch["name"] = rep.channelName[c];
        ch["changes"] = t.changes;
        ch["written"] = t.written;
        ch["dropped"] = t.cancelled;
        channels.append(ch);
    }
    d["channels"] = channels;
    d["moved"] = rep.moved;
    d["bytes"] = rep.bytes;
    d["output"] = r.output;
    return d;
}

} // namespace

PYBIND11_MODULE(ambrio, m) {
    m.doc() = "USB Power Delivery record files (.qxc): decoded packets, their texts and samples, the "
              "summary and rule findings, the synthesizer and the import of logic captures.";
    m.attr("__version__") = AMBRIO_VERSION;
    errorType = py::register_exception<Failure>(m, "Error", PyExc_Exception).ptr();

    py::tuple columns{size_t(kColumnCount)};
    for (int id = 0; id < kColumnCount; ++id) columns[size_t(id)] = py::str(kColumns[id].header);
    m.attr("COLUMNS") = columns;
    py::list rules;
    for (const analysis::RuleInfo& r : analysis::kRules) rules.append(r.key);
    m.attr("RULES") = py::tuple(rules);
    py::dict limits;
    for (const analysis::LimitRow& l : analysis::kLimitRows) limits[l.key] = l.value;
    m.attr("LIMITS") = limits;
    m.attr("SCENARIOS") = py::tuple(py::cast(synth::BuiltinScenarioNames()));

    BindPacket(m);
    BindCapture(m);

    m.def(
        "open",
        [](const py::object& path, bool tolerant) {
            return Capture{OpenCapture(py::str(py::module_::import("os").attr("fspath")(path)), tolerant)};
        },
        py::arg("path"), py::arg("tolerant") = false,
        "Decodes a record file. tolerant: packets the bit recovery rules reject get a second chance.");
    m.def("synth", &Synthesize, py::arg("scenario"), py::arg("seconds") = py::none(), py::arg("seed") = 1,
          py::arg("path") = py::none(), py::kw_only(), py::arg("clock") = 0, py::arg("high_stretch") = 0.0,
          py::arg("tolerant") = false,
          "Plays a scenario (a built-in name, a JSON file or a dict in the JSON form) into a record file "
          "and returns it decoded. path: where the file stays; without it the file is not kept.");
    m.def("import_logic", &ImportLogic, py::arg("input"), py::arg("output"), py::arg("cc1"),
          py::arg("cc2") = py::none(), py::arg("clock") = 0, py::arg("format") = py::none(),
          py::arg("overwrite") = false,
          "Writes a record file from a logic-analyzer capture of the CC lines, as qxtool import; returns "
          "what was read and written.");
}
