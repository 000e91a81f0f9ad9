#include "FlowTreeModel.h"

#include "Analyzer.h"
#include "FlowDiagram.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>

using namespace flow;

namespace {

// Exchanges close once what follows them is read: a few behind the newest may still gain frames (a BIST
// carrier, a spoilt GoodCRC).
constexpr int32_t kSettledBehind = 16;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QColor ColorOf(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

} // namespace

CFlowTreeModel::CFlowTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void CFlowTreeModel::Clear() {
    beginResetModel();
    flow = nullptr;
    findings = nullptr;
    shownExchanges = 0;
    shownTransactions.clear();
    shownPackets.clear();
    shownFindings.clear();
    firstChanging = 0;
    endResetModel();
}

void CFlowTreeModel::Sync(const Flow* f, uint64_t gen, const std::vector<analysis::Finding>* found,
                          int64_t origin) {
    const bool restart = !flow || f != flow || gen != generation || origin != timeOrigin;
    if (restart) {
        beginResetModel();
        flow = f;
        generation = gen;
        findings = found;
        timeOrigin = origin;
        shownExchanges = int32_t(f->exchanges.size());
        shownTransactions.clear();
        shownFindings.clear();
        for (const Exchange& x : f->exchanges) {
            shownTransactions.push_back(int32_t(x.transactions.size()));
            shownFindings.push_back(int32_t(x.findings.size()));
        }
        shownPackets.clear();
        for (const Transaction& t : f->transactions) shownPackets.push_back(int32_t(t.packets.size()));
        endResetModel();
    } else {
        findings = found;
        // Exchanges shown before that may have changed.
        for (int32_t x = firstChanging; x < shownExchanges; ++x) {
            const Exchange& e = f->exchanges[size_t(x)];
            const QModelIndex parent = ExchangeIndex(x);
            for (int32_t row = 0; row < shownTransactions[size_t(x)]; ++row) {
                const int32_t tx = e.transactions[size_t(row)];
                const int32_t packets = int32_t(f->transactions[size_t(tx)].packets.size());
                if (packets > shownPackets[size_t(tx)]) {
                    beginInsertRows(TransactionIndex(tx), shownPackets[size_t(tx)], packets - 1);
                    shownPackets[size_t(tx)] = packets;
                    endInsertRows();
                }
                emit dataChanged(index(row, 0, parent), index(row, kColumnCount - 1, parent));
            }
            const int32_t transactions = int32_t(e.transactions.size());
            if (transactions > shownTransactions[size_t(x)]) {
                for (int32_t row = shownTransactions[size_t(x)]; row < transactions; ++row) {
                    const size_t tx = size_t(e.transactions[size_t(row)]);
                    if (shownPackets.size() <= tx) shownPackets.resize(tx + 1, 0);
                    shownPackets[tx] = int32_t(f->transactions[tx].packets.size());
                }
                beginInsertRows(parent, shownTransactions[size_t(x)], transactions - 1);
                shownTransactions[size_t(x)] = transactions;
                endInsertRows();
            }
            shownFindings[size_t(x)] = int32_t(e.findings.size());
            emit dataChanged(parent, ExchangeIndex(x).siblingAtColumn(kColumnCount - 1));
        }
        // New exchanges.
        const int32_t count = int32_t(f->exchanges.size());
        if (count > shownExchanges) {
            for (int32_t x = shownExchanges; x < count; ++x) {
                const Exchange& e = f->exchanges[size_t(x)];
                shownTransactions.push_back(int32_t(e.transactions.size()));
                shownFindings.push_back(int32_t(e.findings.size()));
                for (int32_t tx : e.transactions) {
                    if (shownPackets.size() <= size_t(tx)) shownPackets.resize(size_t(tx) + 1, 0);
                    shownPackets[size_t(tx)] = int32_t(f->transactions[size_t(tx)].packets.size());
                }
            }
            beginInsertRows({}, shownExchanges, count - 1);
            shownExchanges = count;
            endInsertRows();
        }
    }
    if (shownPackets.size() < f->transactions.size()) shownPackets.resize(f->transactions.size(), 0);
    // From here on only the latest exchanges and those still open may change.
    firstChanging = std::max(0, shownExchanges - kSettledBehind);
    for (int32_t x = firstChanging - 1; x >= 0 && f->exchanges[size_t(x)].open; --x) firstChanging = x;
}

QModelIndex CFlowTreeModel::ExchangeIndex(int32_t exchange) const {
    if (exchange < 0 || exchange >= shownExchanges) return {};
    return createIndex(exchange, 0, Id(kExchange, quintptr(exchange)));
}

int32_t CFlowTreeModel::RowInExchange(int32_t transaction) const {
    const Transaction& t = flow->transactions[size_t(transaction)];
    if (t.exchange < 0) return -1;
    const std::vector<int32_t>& list = flow->exchanges[size_t(t.exchange)].transactions;
    const auto it = std::find(list.begin(), list.end(), transaction);
    return it == list.end() ? -1 : int32_t(it - list.begin());
}

QModelIndex CFlowTreeModel::TransactionIndex(int32_t transaction) const {
    if (!flow || transaction < 0 || size_t(transaction) >= flow->transactions.size()) return {};
    const int32_t x = flow->transactions[size_t(transaction)].exchange;
    const int32_t row = RowInExchange(transaction);
    if (x < 0 || x >= shownExchanges || row < 0 || row >= shownTransactions[size_t(x)]) return {};
    return createIndex(row, 0, Id(kTransaction, quintptr(transaction)));
}

QModelIndex CFlowTreeModel::PacketIndex(int32_t transaction, int32_t packet) const {
    if (!TransactionIndex(transaction).isValid() || packet < 0 || packet >= shownPackets[size_t(transaction)])
        return {};
    return createIndex(packet, 0, Id(kPacket, (quintptr(transaction) << 16) | quintptr(packet)));
}

QModelIndex CFlowTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!flow || row < 0 || column < 0 || column >= kColumnCount) return {};
    if (!parent.isValid())
        return row < shownExchanges ? createIndex(row, column, Id(kExchange, quintptr(row))) : QModelIndex();
    const quintptr item = ItemOf(parent);
    switch (LevelOf(parent)) {
    case kExchange:
        if (row >= shownTransactions[item]) return {};
        return createIndex(row, column,
                           Id(kTransaction, quintptr(flow->exchanges[item].transactions[size_t(row)])));
    case kTransaction:
        if (row >= shownPackets[item]) return {};
        return createIndex(row, column, Id(kPacket, (item << 16) | quintptr(row)));
    case kPacket:
        break;
    }
    return {};
}

QModelIndex CFlowTreeModel::parent(const QModelIndex& child) const {
    if (!flow || !child.isValid()) return {};
    const quintptr item = ItemOf(child);
    switch (LevelOf(child)) {
    case kExchange:
        return {};
    case kTransaction:
        return ExchangeIndex(flow->transactions[item].exchange);
    case kPacket:
        return TransactionIndex(int32_t(item >> 16));
    }
    return {};
}

int CFlowTreeModel::rowCount(const QModelIndex& parent) const {
    if (!flow) return 0;
    if (!parent.isValid()) return shownExchanges;
    if (parent.column() != 0) return 0;
    switch (LevelOf(parent)) {
    case kExchange:
        return shownTransactions[ItemOf(parent)];
    case kTransaction:
        return shownPackets[ItemOf(parent)];
    case kPacket:
        break;
    }
    return 0;
}

int CFlowTreeModel::columnCount(const QModelIndex&) const {
    return kColumnCount;
}

QVariant CFlowTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kHeaders[kColumnCount] = {"Exchange",  "Time [s]", "Duration",
                                                       "Initiator", "Result",   "Findings"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return {};
    return QString::fromLatin1(kHeaders[section]);
}

QVariant CFlowTreeModel::data(const QModelIndex& index, int role) const {
    if (!flow || !index.isValid()) return {};
    const quintptr item = ItemOf(index);
    switch (LevelOf(index)) {
    case kExchange:
        return ExchangeData(int32_t(item), index.column(), role);
    case kTransaction:
        return TransactionData(int32_t(item), index.column(), role);
    case kPacket:
        return PacketData(int32_t(item >> 16), int32_t(item & 0xFFFF), index.column(), role);
    }
    return {};
}

QVariant CFlowTreeModel::ExchangeData(int32_t x, int column, int role) const {
    const Exchange& e = flow->exchanges[size_t(x)];
    const Transaction& first = flow->transactions[size_t(e.transactions.front())];
    const Result result = e.open ? EndResult(e, flow->end) : e.result;
    switch (role) {
    case kNumberRole:
        return qlonglong(first.packets.front().number);
    case kTimeRole:
        return qlonglong(first.packets.front().time);
    case Qt::ForegroundRole:
        return column == kResult || column == kName ? QVariant(QBrush(ColorOf(ResultColor(result))))
                                                    : QVariant();
    case Qt::FontRole:
        if (column == kName) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::ToolTipRole:
        if (column == kFindings && findings) {
            QStringList lines;
            for (int32_t i : e.findings)
                if (size_t(i) < findings->size())
                    lines << Q(std::string(analysis::SeverityName((*findings)[size_t(i)].severity)) + " " +
                               analysis::RuleInfoOf((*findings)[size_t(i)].rule).key + ": " +
                               (*findings)[size_t(i)].text);
            return lines.join('\n');
        }
        return {};
    case Qt::DisplayRole:
        switch (column) {
        case kName:
            return Q(e.title);
        case kTime:
            return Q(DiagramTimeText(e.start, timeOrigin));
        case kDuration:
            return Q(DurationText(e.Duration()));
        case kParties:
            return QString::fromLatin1(PartyName(e.initiator));
        case kResult:
            return QString::fromLatin1(ResultName(result));
        case kFindings:
            return e.findings.empty() ? QString() : QString::number(e.findings.size());
        default:
            return {};
        }
    default:
        return {};
    }
}

QVariant CFlowTreeModel::TransactionData(int32_t tx, int column, int role) const {
    const Transaction& t = flow->transactions[size_t(tx)];
    switch (role) {
    case kNumberRole:
        return qlonglong(t.packets.front().number);
    case kTimeRole:
        return qlonglong(t.packets.front().time);
    case Qt::ForegroundRole:
        if (column == kResult && t.outcome != Outcome::Acknowledged && t.outcome != Outcome::Signal)
            return QBrush(QColor(0xC0, 0x20, 0x20));
        return {};
    case Qt::DisplayRole:
        switch (column) {
        case kName:
            return Q(t.label);
        case kTime:
            return Q(DiagramTimeText(t.start, timeOrigin));
        case kDuration:
            return Q(DurationText(t.end - t.start));
        case kParties:
            return QStringLiteral("%1 \u2192 %2").arg(PartyName(t.from), PartyName(t.to));
        case kResult:
            return Q(OutcomeText(t));
        default:
            return {};
        }
    default:
        return {};
    }
}

std::vector<int32_t> CFlowTreeModel::FindingsOfPacket(int32_t exchange, int64_t number) const {
    std::vector<int32_t> out;
    if (!findings || exchange < 0) return out;
    for (int32_t i : flow->exchanges[size_t(exchange)].findings)
        if (size_t(i) < findings->size()) {
            const std::vector<analysis::PacketRef>& packets = (*findings)[size_t(i)].packets;
            if (!packets.empty() && packets.front().number == number) out.push_back(i);
        }
    return out;
}

QVariant CFlowTreeModel::PacketData(int32_t tx, int32_t packet, int column, int role) const {
    const Transaction& t = flow->transactions[size_t(tx)];
    const FlowPacket& p = t.packets[size_t(packet)];
    switch (role) {
    case kNumberRole:
        return qlonglong(p.number);
    case kTimeRole:
        return qlonglong(p.time);
    case Qt::ToolTipRole:
    case Qt::DisplayRole: {
        if (column == kName) return QStringLiteral("#%1 %2").arg(p.number).arg(PacketRoleName(p.role));
        if (column == kTime) return Q(DiagramTimeText(p.time, timeOrigin));
        if (column == kDuration) return Q(DurationText(p.end - p.time));
        if (column != kFindings) return {};
        QStringList texts;
        for (int32_t i : FindingsOfPacket(t.exchange, p.number))
            texts << Q(role == Qt::DisplayRole
                           ? std::string(analysis::RuleInfoOf((*findings)[size_t(i)].rule).key)
                           : (*findings)[size_t(i)].text);
        return texts.join(role == Qt::DisplayRole ? QStringLiteral(", ") : QStringLiteral("\n"));
    }
    default:
        return {};
    }
}
