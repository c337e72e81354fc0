#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <QByteArray>
#include <QVector>

#include "capture/CameraBackend.h"
#include "capture/VirtualCameraBackend.h"

// A camera backend for the capture tests: devices with any ids and resolution lists, live frames and stills from
// the simulated camera unless a test fixes the still's bytes, and a record of what the component asked for.
class FakeCameraBackend : public CameraBackend
{
public:
    struct Device
    {
        int vendorId;
        int productId;
    };

    // Shared with the test, since the component owns the backend.
    struct Record
    {
        std::mutex mutex;
        QVector<int> openedIndexes;
        CameraOpenParams lastParams{};
        std::atomic<int> stillsCaptured{0};
        // Faults a test switches on and off while the component owns the backend.
        std::atomic<bool> failOpen{false};
        std::atomic<bool> failStart{false};
        std::atomic<bool> lose{false}; // an open stream stops delivering for good
    };

    explicit FakeCameraBackend(QVector<Device> devices)
        : m_devices(std::move(devices)), m_record(std::make_shared<Record>())
    {
    }

    std::shared_ptr<Record> record() const { return m_record; }
    void setResolutions(int list, QVector<ResolutionEntry> entries) { m_lists[list == 0 ? 0 : 1] = std::move(entries); }
    // Stills return these bytes instead of a photograph of the simulated sheet (an empty array is a still of length 0).
    void setStillBytes(const QByteArray& bytes) { setStillSequence({bytes}); }
    // Stills return these in turn, the last one again and again (a sheet swapped between two stills).
    void setStillSequence(const QVector<QByteArray>& stills)
    {
        m_fixedStill = true;
        m_stillBytes = stills;
    }

    // Live frames drawn by this function (called on the stream thread with the frame size) instead of the sheet.
    void setFrameSource(std::function<QImage(QSize)> source) { m_frameSource = std::move(source); }

    int deviceCount() override { return m_devices.size(); }

    bool deviceIds(int index, int* vendorId, int* productId) override
    {
        if (index < 0 || index >= m_devices.size())
            return false;
        *vendorId = m_devices.at(index).vendorId;
        *productId = m_devices.at(index).productId;
        return true;
    }

    QVector<ResolutionEntry> resolutions(int index, int list) override
    {
        if (index < 0 || index >= m_devices.size())
            return {};
        if (!m_lists[list == 0 ? 0 : 1].isEmpty())
            return m_lists[list == 0 ? 0 : 1];
        return VirtualCameraBackend().resolutions(0, list);
    }

    std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) override
    {
        {
            std::lock_guard<std::mutex> lock(m_record->mutex);
            m_record->openedIndexes.append(index);
            m_record->lastParams = params;
        }
        if (m_record->failOpen || index < 0 || index >= m_devices.size())
            return nullptr;
        return std::make_unique<Stream>(VirtualCameraBackend().open(0, params), m_record, m_fixedStill, m_stillBytes,
                                        m_frameSource);
    }

private:
    class Stream : public CameraStream
    {
    public:
        Stream(std::unique_ptr<CameraStream> inner, std::shared_ptr<Record> record, bool fixed,
               QVector<QByteArray> bytes, std::function<QImage(QSize)> source)
            : m_inner(std::move(inner)), m_record(std::move(record)), m_fixed(fixed), m_bytes(std::move(bytes)),
              m_source(std::move(source))
        {
        }
        bool start() override { return !m_record->failStart && m_inner->start(); }
        void stop() override { m_inner->stop(); }
        bool nextFrame(QImage* frame, QSize size, int timeoutMs) override
        {
            m_lost = m_lost || m_record->lose;
            if (m_lost || !m_inner->nextFrame(frame, size, timeoutMs))
                return false;
            if (m_source)
                *frame = m_source(size);
            return true;
        }
        QByteArray captureStill() override
        {
            m_lost = m_lost || m_record->lose;
            if (m_lost)
                return QByteArray();
            const int n = m_record->stillsCaptured++;
            if (!m_fixed)
                return m_inner->captureStill();
            return m_bytes.isEmpty() ? QByteArray() : m_bytes.at(std::min(n, m_bytes.size() - 1));
        }
        bool lost() const override { return m_lost; }

    private:
        std::unique_ptr<CameraStream> m_inner;
        std::shared_ptr<Record> m_record;
        bool m_fixed;
        QVector<QByteArray> m_bytes;
        std::function<QImage(QSize)> m_source;
        bool m_lost = false;
    };

    QVector<Device> m_devices;
    QVector<ResolutionEntry> m_lists[2];
    std::shared_ptr<Record> m_record;
    bool m_fixedStill = false;
    QVector<QByteArray> m_stillBytes;
    std::function<QImage(QSize)> m_frameSource;
};
