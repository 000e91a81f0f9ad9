// The Transactions pane's tree: exchanges, their transactions, and the packets of each, read from the
// grouping as it grows. Rows appear as the grouping reads on; the rows it shows are counted here, so
// that what the view was told and what it asks for always agree.
#pragma once

#include "FlowGrouper.h"

#include <QAbstractItemModel>

#include <cstdint>
#include <vector>

namespace analysis {
struct Finding;
}

class CFlowTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Column { kName, kTime, kDuration, kParties, kResult, kFindings, kColumnCount };
    // The packet a row goes to (its first one for exchanges and transactions) and its time (µs from the
    // capture origin).
    static constexpr int kNumberRole = Qt::UserRole;
    static constexpr int kTimeRole = Qt::UserRole + 1;

    explicit CFlowTreeModel(QObject* parent = nullptr);

    // Brings the rows up to `flow`; the findings are those the exchanges name. A new time origin or a
    // grouping that started over rebuilds every row.
    void Sync(const flow::Flow* flow, uint64_t generation, const std::vector<analysis::Finding>* findings,
              int64_t timeOrigin);
    void Clear();

    // The row of an exchange, a transaction or a packet of a transaction.
    QModelIndex ExchangeIndex(int32_t exchange) const;
    QModelIndex TransactionIndex(int32_t transaction) const;
    QModelIndex PacketIndex(int32_t transaction, int32_t packet) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    enum Level : quintptr { kExchange = 0, kTransaction = 1, kPacket = 2 };
    static quintptr Id(Level level, quintptr item) { return (quintptr(level) << 60) | item; }
    static Level LevelOf(const QModelIndex& i) { return Level(i.internalId() >> 60); }
    static quintptr ItemOf(const QModelIndex& i) { return i.internalId() & ((quintptr(1) << 60) - 1); }
    int32_t RowInExchange(int32_t transaction) const;
    QVariant ExchangeData(int32_t x, int column, int role) const;
    QVariant TransactionData(int32_t tx, int column, int role) const;
    QVariant PacketData(int32_t tx, int32_t packet, int column, int role) const;
    std::vector<int32_t> FindingsOfPacket(int32_t exchange, int64_t number) const;

    const flow::Flow* flow = nullptr;
    const std::vector<analysis::Finding>* findings = nullptr;
    int64_t timeOrigin = 0;
    uint64_t generation = 0;
    // What the view was told: exchanges, transactions of each shown exchange, packets of each shown
    // transaction, and the findings count of each exchange.
    int32_t shownExchanges = 0;
    std::vector<int32_t> shownTransactions;
    std::vector<int32_t> shownPackets;
    std::vector<int32_t> shownFindings;
    // Exchanges that may still change: open ones and the latest few.
    int32_t firstChanging = 0;
};
