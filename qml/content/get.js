// probe worker
