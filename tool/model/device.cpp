// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "device.h"

#include <cstdio>
#include <random>

namespace tervane {

Uuid Uuid::random()
{
    thread_local std::mt19937_64 engine{[] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }()};
    Uuid u;
    for (std::size_t i = 0; i < u.bytes_.size(); i += 8) {
        std::uint64_t r = engine();
        for (std::size_t k = 0; k < 8; ++k) {
            u.bytes_[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
        }
    }
    u.bytes_[6] = static_cast<std::uint8_t>((u.bytes_[6] & 0x0F) | 0x40);  // version 4
    u.bytes_[8] = static_cast<std::uint8_t>((u.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return u;
}

std::string Uuid::toString() const
{
    std::string out;
    char buf[3];
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out += '-';
        }
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(bytes_[i]));
        out += buf;
    }
    return out;
}

Device::Device(std::string name, std::string subNetMask, std::string gateway_, std::string ip_,
               std::string ipSetType_, std::uint16_t PID, std::uint16_t VID,
               std::uint32_t locationID)
    : subNetMast(std::move(subNetMask)), gateway(std::move(gateway_)), ip(std::move(ip_)),
      ipSetType(std::move(ipSetType_)), id_(Uuid::random()), name_(std::move(name)), PID_(PID),
      VID_(VID), locationID_(locationID)
{
}

Device::Device() : Device("", "", "", "", "D", 0, 0) {}

bool Device::operator==(const Device& o) const
{
    return id_ == o.id_ && name_ == o.name_ && subNetMast == o.subNetMast && gateway == o.gateway &&
           ip == o.ip && ipSetType == o.ipSetType && PID_ == o.PID_ && VID_ == o.VID_;
}

std::size_t hashValue(const Device& d)
{
    std::size_t h = 0;
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    for (std::uint8_t b : d.id().bytes()) {
        mix(b);
    }
    std::hash<std::string> hs;
    mix(hs(d.name()));
    mix(hs(d.subNetMast));
    mix(hs(d.gateway));
    mix(hs(d.ip));
    mix(hs(d.ipSetType));
    mix(d.PID());
    mix(d.VID());
    return h;
}

}  // namespace tervane
