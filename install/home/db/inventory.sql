-- A small systems-management inventory for the inventory command (up_sms):
-- two computers, their installed software and a few hardware classes, in
-- SQL that SQLite and PostgreSQL both take. The real inventory is a database
-- of its own outside the help desk; scripts/demo and the tests build this one
-- (db/inventory.db in a demo home) and reach it through the ODBC data source
-- "inventory".
create table System_DATA (
  MachineID integer,
  Name0 varchar(64),
  Domain0 varchar(64),
  User_Name0 varchar(64),
  Operating_System_Name_and0 varchar(128)
);
create table SoftwareInventory (
  ClientID integer,
  ProductId integer
);
create table SoftwareProduct (
  ProductId integer,
  ProductName varchar(128),
  ProductVersion varchar(64),
  CompanyName varchar(128)
);
create table Computer_System_DATA (
  MachineID integer,
  Manufacturer0 varchar(64),
  Model0 varchar(64),
  Roles0 varchar(128),
  UserName0 varchar(64)
);
create table Processor_DATA (
  MachineID integer,
  Manufacturer0 varchar(64),
  Name0 varchar(128),
  Status0 varchar(16),
  Version0 varchar(64)
);
create table PC_Memory_DATA (
  MachineID integer,
  TotalPhysicalMemory0 integer
);
create table Logical_Disk_DATA (
  MachineID integer,
  Description0 varchar(64),
  DeviceID0 varchar(16),
  FileSystem0 varchar(16),
  Size0 integer,
  FreeSpace0 integer,
  SystemName0 varchar(64)
);
create table Network_DATA (
  MachineID integer,
  DefaultIPGateway0 varchar(64),
  IPAddress0 varchar(64),
  IPSubnet0 varchar(64),
  MACAddress0 varchar(32),
  DHCPServer00 varchar(64)
);
create table Operating_System_DATA (
  MachineID integer,
  Caption0 varchar(128),
  BootDevice0 varchar(64),
  BuildNumber0 varchar(16),
  CSDVersion0 varchar(64)
);
create table Sound_Device_DATA (
  MachineID integer,
  Name0 varchar(128),
  Manufacturer0 varchar(64)
);

insert into System_DATA values (1, 'PC-0001', 'OFFICE', 'ann', 'Microsoft Windows 10 Pro');
insert into System_DATA values (2, 'PC-0002', 'OFFICE', 'bob', 'Microsoft Windows 11 Pro');

insert into SoftwareProduct values (10, 'Text Editor', '8.4', 'Plain Software');
insert into SoftwareProduct values (11, 'Fonts & <Symbols>', '2.0', 'Type Foundry & Co');
insert into SoftwareProduct values (12, 'Accounts', '2024.1', 'Ledger Works');
insert into SoftwareProduct values (13, 'Browser', '121.0', 'Open Web');
insert into SoftwareProduct values (14, 'Zip Tool', '', 'Archive People');
insert into SoftwareInventory values (1, 10);
insert into SoftwareInventory values (1, 11);
insert into SoftwareInventory values (1, 12);
insert into SoftwareInventory values (1, 13);
insert into SoftwareInventory values (1, 14);

insert into Computer_System_DATA values (1, 'Contoso', 'Desk 400', 'Workstation', 'OFFICE\ann');
insert into Computer_System_DATA values (2, 'Contoso', 'Slim 200', 'Workstation', 'OFFICE\bob');
insert into Processor_DATA values (1, 'GenuineIntel', 'Intel Core i5-8500', 'OK', 'Model 158');
insert into Processor_DATA values (2, 'AuthenticAMD', 'AMD Ryzen 5 5600G', 'OK', 'Model 80');
insert into PC_Memory_DATA values (1, 16777216);
insert into PC_Memory_DATA values (2, 8388608);
insert into Logical_Disk_DATA values (1, 'Local Fixed Disk', 'C:', 'NTFS', 499000, 120500, 'PC-0001');
insert into Logical_Disk_DATA values (1, 'Local Fixed Disk', 'D:', 'NTFS', 953000, 800100, 'PC-0001');
insert into Logical_Disk_DATA values (2, 'Local Fixed Disk', 'C:', 'NTFS', 238000, 90000, 'PC-0002');
insert into Network_DATA values (1, '10.0.0.1', '10.0.0.21', '255.255.255.0', '00:1A:2B:3C:4D:01', '10.0.0.2');
insert into Network_DATA values (2, '10.0.0.1', '10.0.0.22', '255.255.255.0', '00:1A:2B:3C:4D:02', '10.0.0.2');
insert into Operating_System_DATA values (1, 'Microsoft Windows 10 Pro', '\Device\HarddiskVolume1', '19045', '');
insert into Operating_System_DATA values (2, 'Microsoft Windows 11 Pro', '\Device\HarddiskVolume1', '22631', '');
insert into Sound_Device_DATA values (1, 'High Definition Audio Device', 'Microsoft');
