-- The case table of the sample installation, for SQLite (the embedded
-- default) and PostgreSQL alike. Rows are numbered by id_num, which an add
-- draws as the table's maximum plus one; the unique index makes the database
-- itself refuse a second row with the same number. The date columns are
-- time stamps: both database roads read them back as month/day/year, the
-- form in which a modify writes them again.
create table cases (
  id_num integer,
  case_num varchar(40),
  status varchar(40),
  category varchar(40),
  priority varchar(40),
  submitted_by varchar(80),
  sub_e_mail varchar(128),
  assigned_to varchar(128),
  sa_e_mail varchar(128),
  title varchar(255),
  problem text,
  resolution text,
  date_open timestamp,
  date_first_sent_by_user timestamp,
  date_assigned timestamp,
  time_assigned varchar(16),
  date_closed timestamp
);
create unique index cases_id_num on cases (id_num);
