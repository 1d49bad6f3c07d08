# Reader benchmark: added with bench/reader_bench.cc.
