// digest routine
