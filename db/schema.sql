-- The catalogue of the acquisition system: one row per segment file of the disk loop,
-- one per phase pick, one per located event. Times are epoch seconds (UTC), distances
-- degrees. The types are chosen to mean the same on SQLite and PostgreSQL, and statements end
-- with a semicolon each so that they can be sent one at a time.

create table filelist (
    sta varchar(31),
    ch varchar(15),
    tbegin double precision,
    tqty double precision,
    sps double precision,
    cpath varchar(255),
    datatype smallint,
    foff integer
);

create table arrival (
    sta varchar(31),
    chan varchar(15),
    iphase varchar(15),
    itime double precision,
    dist double precision,
    eventid varchar(63)
);

create table origin (
    orid integer,
    eventid varchar(63),
    lat double precision,
    lon double precision,
    origintime double precision
);

create index filelist_sta_ch_tbegin on filelist (sta, ch, tbegin);
-- The segment listing asks for segments that begin before the window and end inside it, and
-- the station listing for data ending after a time: both compare the end tbegin+tqty, which
-- only an index on that very expression can serve. Without them a long disk loop is read
-- from its first segment on for every row, and entirely for the station listing.
create index filelist_sta_ch_end on filelist (sta, ch, (tbegin+tqty));
create index filelist_end on filelist ((tbegin+tqty));
-- The station listing of an event joins on the station alone (its channel is matched with
-- like), so the end of the station's data must follow the station in an index, before the
-- channel.
create index filelist_sta_end_ch on filelist (sta, (tbegin+tqty), ch);
create index arrival_sta_chan_itime on arrival (sta, chan, itime);
create index arrival_eventid on arrival (eventid);
create index origin_origintime on origin (origintime);
