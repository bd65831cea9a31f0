# Hostile Java input over every token method, and faulty modules.
kavro_java_test(HostileInputTest)
kavro_java_test(FaultyModuleTest)
