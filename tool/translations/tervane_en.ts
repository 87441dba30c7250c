<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: GPL-2.0-or-later -->
<!-- Copyright (C) 2026 The RV-T4410LW driver developers -->
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>tervane::PrinterModel</name>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>未查找到适配的打印机</source>
        <translation>No matching printer found</translation>
    </message>
    <message>
        <source>获取失败，请重试</source>
        <translation>Reading failed, please retry</translation>
    </message>
    <message>
        <source>设置成功</source>
        <translation>Set successfully</translation>
    </message>
    <message>
        <source>设置失败，请重试</source>
        <translation>Setting failed, please retry</translation>
    </message>
    <message>
        <source>没有访问该USB打印机的权限。请安装驱动程序包（其中的udev规则允许当前登录用户访问打印机），然后重新插拔USB线；或者以管理员身份运行本工具。</source>
        <translation>No permission to access this USB printer. Install the driver package (its udev rule gives the logged-in user access to the printer), then unplug and replug the USB cable, or run this tool as administrator.</translation>
    </message>
</context>
<context>
    <name>tervane::ui::SettingView</name>
    <message>
        <source>打印机</source>
        <translation>Printer</translation>
    </message>
    <message>
        <source>IP获取方式</source>
        <translation>IP assignment</translation>
    </message>
    <message>
        <source>DHCP</source>
        <translation>DHCP</translation>
    </message>
    <message>
        <source>手动设置</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>子网掩码</source>
        <translation>Subnet mask</translation>
    </message>
    <message>
        <source>网关</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>请输入IP地址</source>
        <translation>Enter the IP address</translation>
    </message>
    <message>
        <source>请输入子网掩码</source>
        <translation>Enter the subnet mask</translation>
    </message>
    <message>
        <source>请输入网关</source>
        <translation>Enter the gateway</translation>
    </message>
    <message>
        <source>查找打印机</source>
        <translation>Find printer</translation>
    </message>
    <message>
        <source>获取当前IP</source>
        <translation>Get current IP</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>未查找到适配的打印机</source>
        <translation>No matching printer found</translation>
    </message>
</context>
<context>
    <name>tervane::SettingsCheck</name>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>请选择打印机且将信息填写完整</source>
        <translation>Please choose a printer and fill in all the fields</translation>
    </message>
    <message>
        <source>IP格式错误</source>
        <translation>Invalid IP address</translation>
    </message>
    <message>
        <source>子网掩码格式错误</source>
        <translation>Invalid subnet mask</translation>
    </message>
    <message>
        <source>网关格式错误</source>
        <translation>Invalid gateway</translation>
    </message>
</context>
<context>
    <name>orviscannerApp</name>
    <message>
        <source>IP设置工具</source>
        <translation>IP Settings Tool</translation>
    </message>
</context>
</TS>
