// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer records of the settings tool: a printer that was found
// (`Device`), a supported model (`BaseDevice`) and the table of supported
// models (`ORVIDevices`).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tervane {

// A random (version 4) UUID; copies carry the same value.
class Uuid {
public:
    static Uuid random();
    // Upper-case 8-4-4-4-12 hexadecimal form.
    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool operator==(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

// USB vendor id shared by every supported model.
inline constexpr std::uint16_t kORVIVendorID = 0x356C;

struct BaseDevice {
    constexpr BaseDevice(const char* name_, const char* oid_, std::uint16_t pid)
        : name(name_), oid(oid_), PID(pid)
    {
    }
    const char* name;
    const char* oid;
    std::uint16_t PID;
    std::uint16_t VID = kORVIVendorID;
};

// Supported models, searched in order.
inline constexpr std::array<BaseDevice, 1> ORVIDevices{{
    BaseDevice("RV-T4410LW", "", 0x0033),
}};

// One printer the tool can talk to (or the placeholder when none was found).
// `id`, `name`, `PID` and `VID` are fixed when the record is made; the four
// network fields are filled in by a read.
class Device {
public:
    Device(std::string name, std::string subNetMask, std::string gateway, std::string ip,
           std::string ipSetType, std::uint16_t PID, std::uint16_t VID,
           std::uint32_t locationID = 0);

    // The placeholder record: empty name and addresses, mode "D", ids 0,
    // location 0 (with a fresh id, like every new record).
    Device();
    static Device placeholder() { return Device(); }

    const Uuid& id() const { return id_; }
    const std::string& name() const { return name_; }
    std::uint16_t PID() const { return PID_; }
    std::uint16_t VID() const { return VID_; }
    // Where the printer was found on the bus (usb::DeviceDescription::locationID),
    // so that a read or write reaches this printer and not another of the
    // same model; 0 when unknown. Fixed when the record is made. It is not
    // part of equality and hashing, which stay on the eight fields below.
    std::uint32_t locationID() const { return locationID_; }

    std::string subNetMast;
    std::string gateway;
    std::string ip;
    std::string ipSetType;

    // Equality and hashing use all eight fields.
    bool operator==(const Device& other) const;

private:
    Uuid id_;
    std::string name_;
    std::uint16_t PID_;
    std::uint16_t VID_;
    std::uint32_t locationID_;
};

std::size_t hashValue(const Device& device);

}  // namespace tervane

template <>
struct std::hash<tervane::Device> {
    std::size_t operator()(const tervane::Device& d) const noexcept
    {
        return tervane::hashValue(d);
    }
};
