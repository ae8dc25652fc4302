// The records a telemetry worker posts: owned, oldest first, each under an id that stays its own
// while newer ones arrive, shared between the window's thread and the worker.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

template <class T>
class CRecordList {
public:
    CRecordList() { m_vec_records.reserve(60); }
    CRecordList(const CRecordList&) = delete;
    CRecordList& operator=(const CRecordList&) = delete;

    void Push(std::unique_ptr<T> record) {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_vec_records.emplace_back(m_u_next_id++, std::move(record));
    }
    int Count() const {
        std::lock_guard<std::mutex> lock(m_mtx);
        return (int)m_vec_records.size();
    }
    // Calls read(newest record) under the lock; false (and id 0) when there is none.
    template <class F>
    bool ReadNewest(F read, uint64_t& id) const {
        std::lock_guard<std::mutex> lock(m_mtx);
        id = 0;
        if (m_vec_records.empty()) return false;
        id = m_vec_records.back().first;
        read(*m_vec_records.back().second);
        return true;
    }
    // Removes the record of that id (the one that was posted, not whichever is newest now);
    // returns how many are left.
    int Remove(uint64_t id) {
        std::lock_guard<std::mutex> lock(m_mtx);
        for (auto it = m_vec_records.begin(); it != m_vec_records.end(); ++it) {
            if (it->first == id) {
                m_vec_records.erase(it);
                break;
            }
        }
        return (int)m_vec_records.size();
    }
    // Every record, oldest first; the list is left empty.
    std::vector<std::unique_ptr<T>> TakeAll() {
        std::lock_guard<std::mutex> lock(m_mtx);
        std::vector<std::unique_ptr<T>> all;
        all.reserve(m_vec_records.size());
        for (auto& r : m_vec_records) all.push_back(std::move(r.second));
        m_vec_records.clear();
        return all;
    }

private:
    mutable std::mutex m_mtx;
    std::vector<std::pair<uint64_t, std::unique_ptr<T>>> m_vec_records;
    uint64_t m_u_next_id = 1;
};
