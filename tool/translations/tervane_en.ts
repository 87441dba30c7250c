<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>PrinterModel</name>
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
</context>
<context>
    <name>TervaneCli</name>
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
    <message>
        <source>未查找到适配的打印机</source>
        <translation>No matching printer found</translation>
    </message>
</context>
</TS>
