-- The case table of the sample installation, for SQLite (the embedded
-- default) and PostgreSQL alike. Rows are numbered by id_num, which an add
-- draws as the table's maximum plus one; the unique index makes the database
-- itself refuse a second row with the same number.
create table cases (
  id_num integer,
  case_num varchar(40),
  status varchar(40),
  submitted_by varchar(80),
  sub_e_mail varchar(128),
  assigned_to varchar(128),
  sa_e_mail varchar(128),
  title varchar(255),
  problem text,
  resolution text,
  date_open date,
  date_first_sent_by_user date,
  date_assigned date,
  time_assigned varchar(16),
  date_closed date
);
create unique index cases_id_num on cases (id_num);
